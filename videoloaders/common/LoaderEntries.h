// The table entries our general plug-ins share: opening, describing and
// closing a file. Each plug-in adds its own way of delivering frames.
#pragma once

#include "video/KVG_VideoLoader.h"

namespace qvloader {

// Zeroes the table and fills OpenFile, GetFrameInfo, CloseFile and
// GetVideoFileInfo; `loaderName` prefixes the plug-in's error lines.
void fillFileEntries(KVG_VideoLoader* table, const char* loaderName);

} // namespace qvloader
