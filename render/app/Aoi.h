// Interest areas for the aoi layer, read from JSON:
// [{"name": "...", "points": [[x, y], ...]}, ...] in stimulus pixels.
#pragma once

#include <string>
#include <vector>

namespace qvr {

struct Aoi {
    std::string name;
    std::vector<float> xs, ys;
};

// False with one line in `error` (the file, and where in it) when the file
// cannot be read or is not that shape; an area needs three points or more.
bool readAois(const std::string& path, std::vector<Aoi>& out, std::string& error);

} // namespace qvr
