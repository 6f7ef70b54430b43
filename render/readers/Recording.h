// Input readers of quorvex-render: one fixation or gaze recording file in, stimulus-pixel
// samples out. Plain C++17, no GL.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qvr {

enum class Format { Auto, Pupil, Neon, Tobii, EyeLink, XY };
enum class Source { Auto, Fixations, Gaze };

// One fixation or gaze point.
struct Sample {
    double x = 0, y = 0;   // stimulus pixels, origin top left
    double durationMs = 0; // fixation duration; 0 for gaze or unknown
    double timeS = 0;      // data time in seconds (start time of a fixation); NaN when the file has none
    long frame = -1;       // world-video frame index when the file carries one (Pupil), else -1
};

struct Recording {
    std::string path;
    Format format = Format::Auto; // the format read (never Auto after a successful read)
    Source source = Source::Auto; // what the samples are (never Auto after a successful read)
    std::vector<Sample> samples;
    size_t skippedRows = 0; // data rows that could not be used
};

struct ReadOptions {
    Format format = Format::Auto; // Auto: told by the header row
    Source source = Source::Auto; // Auto: what the file holds; forcing what it cannot give is an error
    double minConfidence = 0.6;   // Pupil gaze rows below it are skipped
    double width = 0, height = 0; // stimulus size, for normalised positions
};

// A longer line is skipped (counted) and reading goes on after it: memory stays bounded.
constexpr size_t kMaxLineBytes = size_t(16) << 20;

// Reads one file. On failure returns false, leaves `out` untouched and sets `error` to one line
// naming the file (and the line when it is about one), e.g.
// "fix.csv:1: column \"norm_pos_x\" is missing", "fix.csv: no usable row (12 skipped)",
// "fix.csv: cannot read: Is a directory".
bool readRecording(const std::string& path, const ReadOptions& options, Recording& out, std::string& error);

// "auto", "pupil", "neon", "tobii", "eyelink", "xy".
bool parseFormat(const std::string& name, Format& format);
// "auto", "fixations", "gaze".
bool parseSource(const std::string& name, Source& source);

} // namespace qvr
