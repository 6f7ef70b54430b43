// Video clips made at test time with the ffmpeg program, each frame carrying
// its own number as large blocks that survive lossy compression.
//
// The frame is a grid of 4 x 3 cells (row-major index 0..11). Cell 0 (top
// left) is always white and cell 8 (bottom left) always black, so a picture
// upside down reads as "no number". The ten other cells hold the bits of the
// frame number, bit 0 in cell 1, white = 1: numbers 0..1023. Light temporal
// noise over the whole frame keeps the encoders busy like camera footage.
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
    int width;  // even
    int height; // even
    int frames; // at most 1024
};

constexpr int kClipFramesPerSecond = 25;
constexpr int kClipKeyInterval = 12;

// "h264-mp4 720x480 60" style label for test output.
std::string clipLabel(const ClipSpec& spec);

// Every format at 720 x 480 (0..2) and smaller (3..5), frame counts not ending on a key frame.
const std::vector<ClipSpec>& standardClips();

// Path of the clip, made on first use in a folder under TMPDIR shared by the
// test processes (written under a temporary name, then renamed). Empty when ffmpeg failed.
std::string videoClip(const ClipSpec& spec);

// Faulty inputs: the clip cut after `fraction` of its bytes; pseudo-random bytes named "*<extension>".
std::string truncatedClip(const ClipSpec& spec, double fraction);
std::string garbageClip(const char* extension);

// The folder the clips live in (created on first use).
const std::string& clipFolder();

// The frame number in BGRA pixels; bottomUp = bottom row first (as glReadPixels gives it).
// -1 when the picture carries none (markers missing or flipped, a cell neither light nor dark).
int frameNumberFromPixels(const uint8_t* bgra, int width, int height, int strideBytes, bool bottomUp);

} // namespace qvtest
