// What each format's header says: which format a file is, what it can give, and in which
// columns the reader finds each value.
#pragma once

#include "Recording.h"

#include <string>
#include <vector>

namespace qvr {

// Column indices (-1: the file has no such column) and how to turn the values into a Sample.
struct Plan {
    Format format = Format::Auto;
    Source source = Source::Auto;
    char delimiter = ',';
    bool decimalComma = false; // tab-separated: "512,5" is 512.5
    bool firstRowIsData = false;
    int x = -1, y = -1, duration = -1, time = -1, frame = -1;
    int confidence = -1;                 // rows below ReadOptions::minConfidence are skipped
    int onSurf = -1;                     // rows not "True" are skipped
    int eventType = -1, eventIndex = -1; // one fixation per run of "Fixation" rows of one index
    bool normalised = false;             // origin bottom left, 0..1
    double timeScale = 1;                // to seconds
};

// Picks the format from the first line (already without its BOM) unless options force one, and
// maps its columns. False with the reason, without the file name.
bool planRead(const std::string& firstLine, const ReadOptions& options, Plan& plan, std::string& why);

} // namespace qvr
