// Image files from outside, through both ways the library reads them: the
// header check and FreeImage decode of a texture load, and the header check
// and row-by-row decode of a tall image. No GL: the decoders never touch it.
#include "gl/ImageHeader.h"
#include "gl/ImageRows.h"
#include "gl/StimulusImage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The library logs into syslog; a fuzz run keeps quiet.
void debug_trace(const char*, ...) { }

namespace {

// Checks that rows come once each, in order, and that a decoder writes only
// the row it was given (an exactly sized heap buffer for ASan to guard).
class CheckedRows : public qv::RgbaRowSink {
public:
    explicit CheckedRows(uint32_t width) : width_(width) { }
    unsigned char* row(uint32_t y) override
    {
        if (y != next_)
            abort();
        buffer_.assign(static_cast<size_t>(width_) * 4, 0);
        return buffer_.data();
    }
    bool rowDone(uint32_t y) override
    {
        if (y != next_)
            abort();
        ++next_;
        return true;
    }
    uint32_t rows() const { return next_; }

private:
    uint32_t width_;
    uint32_t next_ = 0;
    std::vector<unsigned char> buffer_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (file == nullptr)
        return 0;

    // A texture load: bounded by the GL limit of the test machines.
    qv::StimulusLimits limits;
    limits.maxSide = 16384;
    FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
    qv::Bitmap dib = qv::decodeStimulus(file, size, "fuzz input", limits, fif);
    if (dib && FreeImage_GetBits(dib.get()) == nullptr)
        abort();
    dib.reset();

    // A tall image.
    rewind(file);
    qv::ImageHeader header;
    if (qv::probeImage(file, size, 1ull << 28, header) == nullptr &&
        (header.kind == qv::ImageKind::Png || header.kind == qv::ImageKind::Jpeg ||
         header.kind == qv::ImageKind::Bmp)) {
        CheckedRows rows(header.width);
        const char* why = qv::decodeRgbaRows(file, header, rows);
        if (why == nullptr && rows.rows() != header.height)
            abort(); // success means every row arrived
    }
    fclose(file);
    return 0;
}
