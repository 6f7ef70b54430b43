// The renderer's command line: one parser for the three commands, so every
// command spells an option the same way.
#pragma once

#include "readers/Recording.h"

#include <string>
#include <vector>

namespace qvr {

enum class Command { Heatmap, Movie, Aggregate };

// Layers drawn over the stimulus or the scene video, bottom to top.
struct Layers {
    bool heatmap = false, fixations = false, scanpath = false, numbers = false, aoi = false;
    bool any() const { return heatmap || fixations || scanpath || numbers || aoi; }
};

enum class Weight { Auto, Duration, Count };

struct Options {
    Command command = Command::Heatmap;
    std::vector<std::string> data; // one file; aggregate: every file
    std::string stimulus, video, aoiFile, output;
    int width = 0, height = 0; // --size, when no stimulus gives it
    Format format = Format::Auto;
    Source source = Source::Auto;
    double sigma = 16.0; // pixels
    Weight weight = Weight::Auto;
    double alpha = 1.0; // opacity of the heat layer over the picture
    Layers layers;
    double timeOffset = 0.0; // data time of the video's first frame, seconds
    double minConfidence = 0.6;
    bool normalise = true;
    bool useGlx = false;
    bool verbose = false;
};

// What parsing gave: run, print the help and stop (exit 0), or a usage error
// (exit 2) whose one line is in `error`.
enum class ParseResult { Run, Help, Error };

ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error);
// The help of one command, or of the program when `command` is empty.
std::string helpText(const std::string& command);

} // namespace qvr
