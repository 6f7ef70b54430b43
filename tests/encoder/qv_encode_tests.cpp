// qv_encode alone, as the renderer calls it: the row orders and strides the pipe never carries,
// and the refusals only a caller in the same process sees.
#include <gtest/gtest.h>

#include "qv_encode.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kW = 64, kH = 48;
const unsigned char kTop[3] = {220, 40, 40}, kBottom[3] = {40, 60, 200}; // R G B

// A private folder for one movie, removed whatever the outcome.
struct TempDir {
    char path[22] = "/tmp/qv-encode-XXXXXX";
    const bool made = mkdtemp(path) != nullptr;
    const std::string movie = std::string(path) + "/m.mp4";
    ~TempDir() { EXPECT_EQ(std::system((std::string("rm -rf '") + path + "'").c_str()), 0); }
};

// The movie decoded to packed RGB, every frame back to back.
std::vector<unsigned char> decodeRgb(const std::string& movie)
{
    const std::string command =
        std::string(QV_FFMPEG) + " -v error -i '" + movie + "' -f rawvideo -pix_fmt rgb24 -";
    std::vector<unsigned char> out(kW * kH * 3 * 8);
    FILE* p = popen(command.c_str(), "r");
    out.resize(p != nullptr ? fread(out.data(), 1, out.size(), p) : 0);
    return p == nullptr || pclose(p) == 0 ? out : std::vector<unsigned char>();
}

// Bottom-up packed rows, and top-down rows whose stride leaves white padding.
TEST(EncodeLayout, DecodesUprightWithTheFedColours)
{
    for (const int bottomUp : {1, 0}) {
        SCOPED_TRACE(bottomUp ? "bottom-up, packed" : "top-down, padded");
        const ptrdiff_t stride = bottomUp ? kW * 4 : kW * 4 + 32;
        TempDir tmp;
        ASSERT_TRUE(tmp.made);
        std::vector<uint8_t> bgra(size_t(stride) * kH, 0xff);
        for (int y = 0; y < kH; ++y) {
            const unsigned char* rgb = y < kH / 2 ? kTop : kBottom; // y: picture row, 0 = top
            uint8_t* row = &bgra[size_t(bottomUp ? kH - 1 - y : y) * size_t(stride)];
            for (int x = 0; x < kW; ++x)
                row[x * 4] = rgb[2], row[x * 4 + 1] = rgb[1], row[x * 4 + 2] = rgb[0], row[x * 4 + 3] = 255;
        }
        char err[256] = "";
        qv_encoder* e = qv_encode_open(tmp.movie.c_str(), kW, kH, 25, 1, nullptr, err, sizeof err);
        ASSERT_NE(e, nullptr) << err;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(qv_encode_frame(e, bgra.data(), stride, bottomUp, err, sizeof err), 0) << err;
        ASSERT_EQ(qv_encode_close(e, err, sizeof err), 0) << err;
        const std::vector<unsigned char> rgb = decodeRgb(tmp.movie);
        ASSERT_EQ(rgb.size(), size_t(kW * kH * 3 * 3));
        for (int c = 0; c < 3; ++c) { // centre of each half of the first frame, within 12 of 255
            EXPECT_NEAR(rgb[(kH / 4 * kW + kW / 2) * 3 + c], kTop[c], 12) << "top, channel " << c;
            EXPECT_NEAR(rgb[(kH * 3 / 4 * kW + kW / 2) * 3 + c], kBottom[c], 12) << "bottom, channel " << c;
        }
    }
}

TEST(Encode, RefusesBadInputAndLeavesNoMovieWithoutFrames)
{
    TempDir tmp;
    ASSERT_TRUE(tmp.made);
    qv_encode_options o;
    qv_encode_default_options(&o);
    o.crf = 52;
    char err[256] = "";
    EXPECT_EQ(qv_encode_open(tmp.movie.c_str(), kW, kH, 25, 1, &o, err, sizeof err), nullptr);
    EXPECT_STREQ(err, "bad crf 52: a whole number from 0 to 51");
    EXPECT_NE(access(tmp.movie.c_str(), F_OK), 0);

    std::vector<uint8_t> bgra(kW * 4 * kH);
    qv_encoder* e = qv_encode_open(tmp.movie.c_str(), kW, kH, 25, 1, nullptr, err, sizeof err);
    ASSERT_NE(e, nullptr) << err;
    EXPECT_LT(qv_encode_frame(e, bgra.data(), kW * 4 - 4, 1, err, sizeof err), 0);
    EXPECT_NE(std::string(err).find("bad stride 252"), std::string::npos) << err;
    EXPECT_EQ(qv_encode_frames(e), 0);
    EXPECT_LT(qv_encode_close(e, err, sizeof err), 0);
    EXPECT_STREQ(err, "no frame received, nothing written");
    EXPECT_NE(access(tmp.movie.c_str(), F_OK), 0);
}

} // namespace
