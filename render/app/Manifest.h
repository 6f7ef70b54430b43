// A study's manifest: a TSV or CSV table with a header, one render per row,
// turned into the command line of each render. Everything that can be
// wrong with it is found before anything runs.
#pragma once

#include <string>
#include <vector>

namespace qvr {

struct BatchRow {
    int number = 0; // 1-based among the data rows
    std::string id;
    std::vector<std::string> args;   // the render's arguments after the program name
    std::string output;              // absolute or as given, resolved
    std::vector<std::string> inputs; // files whose age decides whether the output is up to date
};

// Reads `path`; outputs default to <id>.png / <id>.mp4 in `outDir` (the
// manifest's folder when empty). False with one line in `error` naming the
// row and column.
bool readManifest(const std::string& path, const std::string& outDir, std::vector<BatchRow>& rows,
                  std::string& error);

} // namespace qvr
