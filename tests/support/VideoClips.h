// Video clips made at test time with ffmpeg; each frame carries its number in a 4 x 3 grid of
// cells (row-major 0..11): cell 0 always white, cell 8 always black (so a picture upside down
// reads as no number), the ten others bit 0 (cell 1) upwards, white = 1. Light temporal noise
// keeps the encoders busy like camera footage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvtest {

enum class ClipFormat {
    H264Mp4,  // libx264 in MP4, two B-frames between references, key frame every 12
    XvidAvi,  // MPEG-4 part 2 in AVI tagged "XVID", packed B-frames
    Mpeg2Mpg, // MPEG-2 in an MPEG program stream (first time stamp is not 0)
};

struct ClipSpec {
    ClipFormat format;
    int width, height, frames; // even sides, at most 1024 frames
};

constexpr int kClipFramesPerSecond = 25;
constexpr int kClipKeyInterval = 12; // the benchmarks seek to key frames

// "h264-mp4 720x480 60" style label for test output.
std::string clipLabel(const ClipSpec& spec);

// Every format at 720 x 480 (0..2) and smaller (3..5), frame counts not ending on a key frame.
const std::vector<ClipSpec>& standardClips();

// The clip's path, made on first use in a folder under TMPDIR shared by the test processes
// (written under a temporary name, then renamed); empty when ffmpeg failed.
std::string videoClip(const ClipSpec& spec);

// Faulty inputs: the clip cut after `fraction` of its bytes; pseudo-random bytes named "*<extension>".
std::string truncatedClip(const ClipSpec& spec, double fraction);
std::string garbageClip(const char* extension);

// The frame number in RGBA or BGRA pixels (bottomUp: as glReadPixels gives them); -1 when there is none.
int frameNumberFromPixels(const uint8_t* bgra, int width, int height, int strideBytes, bool bottomUp);

} // namespace qvtest
