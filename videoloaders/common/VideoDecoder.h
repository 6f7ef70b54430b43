// The decoding core shared by our video loader plug-ins: the first video
// stream of a file, decoded with FFmpeg (frame threads) into BGRA pictures
// addressed by frame number.
//
// Frame numbers are 0-based in presentation order and come from the frames'
// time stamps: (time stamp - time stamp of the first frame) x frame rate,
// rounded. The clip is seen as a constant-rate sequence: a number that falls
// between two decoded frames shows the earlier one (a dropped frame repeats
// its predecessor), and of two frames with the same number the first wins.
// Every number from 0 to that of the last decoded frame is a picture.
#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <cstddef>
#include <cstdint>
#include <string>

struct AVCodec;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace qvloader {

class VideoDecoder {
public:
    // Opens a regular file and decodes its first frame. Null on any failure
    // (not a regular file, no video stream, nothing decodable), with a line
    // on standard error prefixed by `who`.
    static VideoDecoder* open(const char* path, const char* who);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    AVRational frameRate() const { return rate_; }
    // From the container's count or duration; 0 when it states neither.
    int frameCountEstimate() const;
    // The stream's four-character code ("avc1", "XVID", ...) or, when the
    // container has none, one named after the codec ("MPG2", "H264", ...).
    void fourcc(char* text, size_t size) const;

    // Random access: the picture of frame n as BGRA, top row first, `pitch`
    // bytes per row (at least width x 4). Returns n, or -1 when the clip has
    // no frame n or decoding failed. The frame after the last one asked for
    // is decoded on without seeking; anything else further ahead than the
    // next key frame, or behind, seeks to the key frame at or before n.
    int frameAt(int n, uint8_t* bgra, int pitch);

    // Sequential access: the frame after the last one delivered (frame 0
    // first). 1 with its number in *number, 0 when there is none.
    int nextFrame(uint8_t* bgra, int pitch, int* number);
    bool hasNextFrame();

private:
    VideoDecoder() = default;
    int openInput(const char* path);
    int openDemuxer(const AVCodec** decoder);
    int feedDecoder();
    int decodeFrame(AVFrame* out, int* number);
    int frameNumber(const AVFrame* frame);
    int fillAhead();
    int advance(int n);
    int seekTo(int n);
    int seekDemuxer(int n);
    int rewind(int way);
    void resetDecoding();
    bool keyFrameAfterPosition(int n);
    int64_t timestampOf(int n) const;
    int toBgra(const AVFrame* frame, uint8_t* bgra, int pitch);

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* codec_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* shown_ = nullptr; // the picture for frame position_
    AVFrame* ahead_ = nullptr; // decoded, number aheadNumber_ > position_, not yet due
    SwsContext* scaler_ = nullptr;
    int stream_ = -1;
    int width_ = 0, height_ = 0;
    AVRational timeBase_{0, 1};
    AVRational rate_{25, 1};
    int64_t firstTimestamp_ = 0;
    bool haveFirstTimestamp_ = false;
    int position_ = -1;         // frame number shown_ stands for; -1 = none since the last seek
    int aheadNumber_ = -1;      // -1 = ahead_ empty
    int lastNumber_ = -1;       // number of the last frame out of the decoder
    bool delivered_ = false;    // position_ was handed out by nextFrame/frameAt
    bool inputEnded_ = false;   // the demuxer is done and the decoder told so
    bool drained_ = false;      // the decoder gave its last frame
    bool needKeyFrame_ = false; // after a seek: drop frames until a key frame
    bool fromStart_ = true;     // decoding began at the start of the file
};

} // namespace qvloader
