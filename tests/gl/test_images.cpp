// Stimulus images through the texture manager: placement, cache, conversions, budget,
// bands of tall images, bad files. Pixel tolerance 1 (probed away from filtered edges).
#include "gl/ImageFixture.h"
#include "gl/glTexture.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <vector>

using namespace qvtest;

class TextureManagerTest : public ImageTest {
protected:
    std::string quadrantPng(const std::string& name = "q.png")
    {
        const std::string p = path(name);
        EXPECT_TRUE(writeImage(p, FIF_PNG, 64, 64, 24, quadrants(64, 64)));
        return p;
    }
    char* c(const std::string& s) { return const_cast<char*>(s.c_str()); }
};

TEST_F(TextureManagerTest, DrawsUprightInTheRectangleOrAtItsOwnSize)
{
    const std::string p = quadrantPng();
    manager().drawPlainTexture(p.c_str(), 20, 30, 128, 128, false);
    expectPixels(gl(), {{52, 62, kRed}, {116, 62, kGreen}, {52, 126, kBlue}, {116, 126, kWhite}}, 1);
    expectPixels(gl(), {{19, 100, kBlack}, {148, 100, kBlack}, {100, 29, kBlack}, {100, 158, kBlack}}, 1);
    clear();
    manager().drawPlainTexture(p.c_str(), 10, 10, 0, 0, false);
    expectPixels(gl(), {{10, 10, kRed}, {73, 73, kWhite}, {74, 40, kBlack}, {40, 74, kBlack}}, 1);
}

// Each file is drawn blended over green with the current colour white: the
// conversion before upload decides what shows. (Its GL state: tests/boundary/test_draw_state.cpp.)
TEST_F(TextureManagerTest, ConversionsBeforeUpload)
{
    const RGBQUAD bk{60, 10, 200, 0}; // blue, green, red: only a channel-by-channel match clears it
    const Rgba grey{90, 90, 90, 255};
    const PixelFn bkLeft = [](int x, int) { return x < 5 ? Rgba{200, 10, 60, 255} : kBlue; };
    const struct Case {
        const char* name;
        int bpp;
        PixelFn px;
        const RGBQUAD* background;
        std::vector<Probe> probes;
        unsigned bytes;
        const char* log;
    } cases[] = {
        // Every fourth byte 0: it shows only when uploaded without its alpha.
        {"a.bmp", 32, solid({200, 100, 50, 0}), nullptr, {{20, 20, {200, 100, 50, 255}}}, 300, ""},
        {"g.png", 8, solid(grey), nullptr, {{20, 20, grey}}, 300, " convert with bpp 24 "},
        {"bk.png", 24, bkLeft, &bk, {{10, 50, kGreen}, {80, 50, kBlue}}, 400, "has background"},
        {"half.png", 32, solid({255, 0, 255, 128}), nullptr, {{50, 50, {128, 127, 128, 255}}}, 400, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        manager().UnloadAllTextures();
        clearSyslog();
        ASSERT_TRUE(writeImage(path(k.name), FreeImage_GetFIFFromFilename(k.name), 10, 10, k.bpp, k.px,
                               k.background));
        glClearColor(0, 1, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1, 1, 1, 1);
        manager().drawTexture(c(path(k.name)), 0, 0, 100, 100);
        for (const Probe& p : k.probes) { // destination alpha is blended too: not compared
            const Rgba got = gl().pixel(p.x, p.y);
            EXPECT_TRUE(pixelNear(got, Rgba{p.colour.r, p.colour.g, p.colour.b, got.a}, 2)) << p.x;
        }
        EXPECT_EQ(totalbyte, k.bytes);
        EXPECT_TRUE(*k.log == 0 || syslogContains(k.log)) << k.log;
    }
    glColor4f(1, 0, 0, 1); // a white image is modulated by the current colour
    ASSERT_TRUE(writeImage(path("w.png"), FIF_PNG, 8, 8, 24, solid(kWhite)));
    manager().drawTexture(c(path("w.png")), 0, 0, 100, 100);
    expectPixels(gl(), {{50, 50, kRed}}, 1);
}

TEST_F(TextureManagerTest, BudgetOfTwoHundredThousandKiBEvictsBeforeTheNextLoad)
{
    const std::string a = quadrantPng("a.png"), b = quadrantPng("b.png"), d = quadrantPng("d.png");
    ASSERT_NE(manager().getTexture(c(a)), 0);
    totalbyte = 204801023u; // 200000 KiB and 1023 bytes: not yet past
    ASSERT_NE(manager().getTexture(c(b)), 0);
    EXPECT_EQ(manager().m_texID.size(), 2u);
    EXPECT_FALSE(syslogContains("more than 200 mb vram"));
    totalbyte = 204801024u;
    ASSERT_NE(manager().getTexture(c(d)), 0);
    EXPECT_EQ(manager().m_texID.size(), 1u);
    EXPECT_EQ(totalbyte, 64u * 64u * 3u);
    EXPECT_TRUE(syslogContains("more than 200 mb vram when load texture , delete all textures \n"));
    EXPECT_TRUE(syslogContains(" delete texture " + a));
}

TEST_F(TextureManagerTest, EachContextKeepsItsOwnCacheUsedUntilAnUpdate)
{
    const std::string p = path("c.png");
    ASSERT_TRUE(writeImage(p, FIF_PNG, 16, 16, 24, solid(kRed)));
    TextureManager* first = &manager();
    const int id = first->getTexture(c(p)); // loaded: the red draw below is this texture
    ASSERT_TRUE(writeImage(p, FIF_PNG, 16, 16, 24, solid(kGreen)));
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, false);
    expectPixels(gl(), {{25, 25, kRed}}, 1);
    EXPECT_EQ(manager().getTexture(c(p)), id);
    manager().drawPlainTexture(p.c_str(), 0, 0, 50, 50, true);
    expectPixels(gl(), {{25, 25, kGreen}}, 1);
    EXPECT_EQ(manager().m_texID.size(), 1u);
    {
        // Destroying a context leaves none current: switch back after it is gone.
        GlContext other(64, 64);
        ASSERT_TRUE(other.ok()) << other.error();
        other.makeCurrent();
        TextureManager* second = TextureManager::getInstance();
        ASSERT_NE(second, nullptr);
        EXPECT_NE(second, first);
        EXPECT_TRUE(second->m_texID.empty());
        ASSERT_NE(second->getTexture(c(p)), 0);
        second->UnloadAllTextures();
    }
    gl().makeCurrent();
    EXPECT_EQ(TextureManager::getInstance(), first);
    EXPECT_EQ(first->m_texID.count(p), 1u);
    clear();
    manager().drawPlainTexture(p.c_str(), 0, 0, 64, 64, false);
    EXPECT_PIXEL(gl(), 10, 10, kGreen, 1);
}

// One hostile input: `call` is true when every call it makes answered its failure value.
struct HostileRow {
    std::string name;
    std::function<bool()> call;
};

namespace {

// Blow-up detector: the inputs once took 0.5 to 3 GB; a row now reads only the header.
constexpr long kRowKiB = 64 * 1024;

uint32_t crc32(const std::string& bytes)
{
    uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) {
        c ^= b;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}
std::string be32(uint32_t v) { return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; }
std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
std::string le32(uint32_t v) { return le16(v) + le16(v >> 16); }
std::string pngChunk(const std::string& type, const std::string& data)
{
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(crc32(type + data));
}
// A PNG header of w x h RGB pixels, an empty stored deflate stream and the end: 68 bytes.
std::string pngHeaderOnly(uint32_t w, uint32_t h)
{
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           pngChunk("IHDR", be32(w) + be32(h) + std::string("\x08\x02\0\0\0", 5)) +
           pngChunk("IDAT", std::string("\x78\x01\x01\x00\x00\xff\xff\x00\x00\x00\x01", 11)) +
           pngChunk("IEND", "");
}
// A BMP header of w x h 24-bit pixels followed by `pad` zero bytes.
std::string bmpHeaderOnly(int32_t w, int32_t h, size_t pad)
{
    return "BM" + le32(static_cast<uint32_t>(54 + pad)) + le32(0) + le32(54) + le32(40) + le32(w) + le32(h) +
           le16(1) + le16(24) + std::string(24, '\0') + std::string(pad, '\0');
}
// A TIFF directory that names its width twice: libtiff keeps the first.
std::string tiffTwoWidths()
{
    const auto entry = [](uint32_t tag, uint32_t v) { return le16(tag) + le16(4) + le32(1) + le32(v); };
    return "II*" + std::string(1, '\0') + le32(8) + le16(9) + entry(256, 989855750) + entry(257, 4) +
           entry(258, 8) + entry(259, 1) + entry(262, 1) + entry(273, 128) + entry(277, 1) + entry(279, 16) +
           entry(256, 4) + le32(0) + std::string(64, '\0');
}
// A GIF whose first image data stops inside a sub-block.
std::string gifCutInData()
{
    return "GIF89a" + le16(12) + le16(8) + std::string("\0\0\0", 3) + "," + le32(0) + le16(12) + le16(8) +
           std::string("\0\x08\x4b\x00\x01\x00", 6);
}
// An EXR whose data window claims 2^24 rows (OpenEXR read a line offset table that long).
bool patchExrHeight(const std::string& p)
{
    std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
    std::string b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t at = b.find(std::string("dataWindow\0box2i\0", 17));
    if (at == std::string::npos)
        return false;
    f.seekp(static_cast<std::streamoff>(at + 17 + 4 + 12));
    f.write("\xf0\xff\xff\x00", 4);
    return f.good();
}
// The JPEG whose Huffman table counts add up past 256 (stb_image wrote past its tables).
std::string jpegBadHuffman()
{
    const std::string table = std::string(1, '\0') + std::string(16, '\xff') + std::string(4080, '\0');
    const size_t len = 2 + table.size();
    return std::string("\xff\xd8\xff\xc4", 4) + char(len >> 8) + char(len & 0xff) + table + "\xff\xd9";
}

} // namespace

TEST_F(TextureManagerTest, HostileInputsFailInBoundedTimeAndMemory)
{
    // Every image path refuses the file: no entry, texture 0, no band, nothing drawn.
    const auto imageRow = [&](const std::string& name, std::function<bool()> make) {
        return HostileRow{name, [this, name, make] {
                              if (!make())
                                  return false;
                              const std::string p = path(name);
                              bool failed =
                                  !manager().LoadTexture(p.c_str(), false) && !manager().getTexture(c(p));
                              manager().drawPlainTexture(p.c_str(), 0, 0, 100, 100, false);
                              manager().drawTexture(c(p), 0, 0, 100, 100);
                              manager().drawWebPageTexture(p.c_str(), 0, 0, 100, 100);
                              for (const txTexture* t : manager().mega_texture_list)
                                  failed = failed && (p != t->file_name || t->m_tex_list.empty());
                              return failed;
                          }};
    };
    const auto file = [&](const std::string& name, const std::string& b) {
        return imageRow(name,
                        [this, name, b] { return bool(std::ofstream(path(name), std::ios::binary) << b); });
    };
    FIBITMAP* hdr = FreeImage_AllocateT(FIT_RGBF, 4, 4);
    ASSERT_TRUE(hdr != nullptr && FreeImage_Save(FIF_EXR, hdr, path("spin.exr").c_str(), 0));
    FreeImage_Unload(hdr);
    std::vector<HostileRow> rows = {
        // Formats FreeImage would read with no size check (EXR and XBM spun for minutes, XPM read past a buffer).
        imageRow("spin.exr", [&] { return patchExrHeight(path("spin.exr")); }),
        file("x.xbm", "#define x_width 30000\n#define x_height 30000\nstatic char x_bits[] = {\n0x00,\n};\n"),
        file("x.xpm", "/* XPM */ static char *x[] = { \"2 1 1 2\", \"aa c #ff0000\", \"a\" };"),
        // Declared sizes the file cannot hold.
        file("huge.bmp", bmpHeaderOnly(16384, 16384, 64)),
        file("huge.png", pngHeaderOnly(16384, 16384)),
        file("8k.bmp", bmpHeaderOnly(8192, 8192, 64)), // within the pixel and texture limits:
        file("8k.png", pngHeaderOnly(8000, 8000)),     // only the file size refuses them
        file("wide.png", pngHeaderOnly(0x7FFFFFFFu, 1)),
        file("two-widths.tif", tiffTwoWidths()),
        file("cut.gif", gifCutInData()),
        file("dht.jpg", jpegBadHuffman()),
        // Files that are no images or no files.
        file("notes.xyz", "just some text, not an image"),
        file("fake.png", "\x89PNG garbage that is not a PNG"),
        file("empty.png", ""),
        imageRow("cut.png", [&] { return truncate(quadrantPng("cut.png").c_str(), 60) == 0; }),
        imageRow("missing.png", [] { return true; }),
        // GL out of memory after the upload: the load fails and its texture goes with it.
        {"upload out of memory",
         [&] {
             const std::string p = path("oom.png");
             if (!writeImage(p, FIF_PNG, 8, 8, 24, solid(kRed)))
                 return false;
             const int objects = qvtest::liveGlObjects();
             qvtest::scriptedGlErrors = {GL_NO_ERROR, GL_OUT_OF_MEMORY}; // after the name, after the upload
             const bool failed = manager().LoadTexture(p.c_str(), false) == nullptr;
             return failed && qvtest::scriptedGlErrors.empty() && qvtest::liveGlObjects() == objects;
         }},
        imageRow("dir.png", [&] { return mkdir(path("dir.png").c_str(), 0700) == 0; }),
        imageRow("pipe.png", [&] { return mkfifo(path("pipe.png").c_str(), 0600) == 0; }), // must not block
        imageRow(std::string(600, 'n') + ".png", [] { return true; }), // longer than a tiled image keeps
        // The band upload refuses each bad argument on its own: no band.
        {"band upload arguments",
         [] {
             std::vector<uint32_t> pixels(8 * 8, 0xff0000ffu);
             void* px = pixels.data();
             const struct {
                 void* data;
                 int w, h, pitch;
             } bad[] = {{nullptr, 8, 8, 32}, {px, 0, 8, 32}, {px, 8, 0, 32}, {px, 8, 8, 0}, {px, -8, 8, 32}};
             return std::all_of(std::begin(bad), std::end(bad), [](const auto& b) {
                 txTexture t;
                 t.create(b.data, b.w, b.h, b.pitch);
                 return t.m_tex_list.empty();
             });
         }},
    };
    for (const HostileRow& row : rows) {
        bool failed = false;
        const long grown = peakGrowthKiB([&] { failed = row.call(); });
        EXPECT_TRUE(failed) << row.name;
        EXPECT_TRUE(!kChecksResidentSize || grown < kRowKiB) << row.name << " grew " << grown << " KiB";
    }
    expectPixels(gl(), {{50, 50, kBlack}}, 0);
    EXPECT_TRUE(manager().m_texID.empty());
    for (const char* log :
         {"is not a regular, non-empty file", "refuse image", "loadFromImage: refuse", "is too long",
          "format not accepted", "declared size larger than the file can hold",
          " get out of memory when load texture"})
        EXPECT_TRUE(syslogContains(log)) << log;
    EXPECT_EQ(manager().LoadTexture(nullptr, false), nullptr);
    EXPECT_EQ(manager().LoadTexture("", true), nullptr);
    const size_t listed = manager().mega_texture_list.size();
    manager().drawWebPageTexture(nullptr, 0, 0, 10, 10);
    manager().drawWebPageTexture("", 0, 0, 10, 10);
    EXPECT_EQ(manager().mega_texture_list.size(), listed);
}

// Tall images: bands of 4096 rows, cut from the bottom up; stripes of 100 rows probed at the
// seams and across the page. PNG and JPEG stream: the peak grows by the band textures (llvmpipe
// keeps them in process memory) and about one staging band, not by the decoded page (205 MB).
TEST_F(TextureManagerTest, EveryStripeOfATallImageLandsWhereItBelongs)
{
    // Columns from 32 on are inverted: a wrong horizontal texture coordinate shows too.
    const auto stripe = [](int x, int row) {
        const int k = row / 100;
        const Rgba c{(k * 37) % 256, (k * 91 + 40) % 256, 255 - (k * 53) % 256, 255};
        return x < 32 ? c : Rgba{255 - c.r, 255 - c.g, 255 - c.b, 255};
    };
    const struct Case {
        const char* name;
        int w, h, tolerance;
        bool streamed; // else held whole: a BMP (bounded by its file) or an interlaced PNG
        int texWidth;  // rows padded past a multiple of 4
    } cases[] = {{"stripes.bmp", 64, 9000, 1, false, 68},
                 {"exact.bmp", 66, 8192, 1, false, 68}, // an exact multiple ends with an empty band
                 {"stripes.png", 1280, 40000, 1, true, 1284},
                 {"stripes.jpg", 1280, 40000, 6, true, 1284},
                 {"adam7.png", 64, 9000, 1, false, 68}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string p = path(k.name);
        // Written whole (the peak is measured from after the write): JPEG quality 95, PNG Adam7 when held whole.
        const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(k.name);
        const int flags = fif == FIF_JPEG ? 95 : fif == FIF_PNG && !k.streamed ? PNG_INTERLACED : 0;
        ASSERT_TRUE(writeImage(p, fif, k.w, k.h, 24, stripe, nullptr, flags));
        manager().clearLargeTexture();
        malloc_trim(0); // freed band textures must not make room for the next page
        const long grown = peakGrowthKiB([&] { manager().drawWebPageTexture(p.c_str(), 10, 0, k.w, k.h); });
        ASSERT_EQ(manager().mega_texture_list.size(), 1u);
        const auto& bands = manager().mega_texture_list[0]->m_tex_list;
        ASSERT_EQ(bands.size(), static_cast<size_t>(k.h / 4096 + 1));
        for (int i = 0; i < static_cast<int>(bands.size()); ++i) {
            const txRect& band = *bands[i];
            EXPECT_FLOAT_EQ(band.tl.y - band.rb.y, std::min(4096, k.h - 4096 * i)) << i;
            EXPECT_FLOAT_EQ(band.rb.y, std::max(0, k.h - 4096 * (i + 1))) << i;
            EXPECT_FLOAT_EQ(band.rb.x - band.tl.x, k.w) << i;
            GLint w = -1, h = -1;
            glBindTexture(GL_TEXTURE_RECTANGLE_ARB, static_cast<GLuint>(band.gl_texId));
            glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_RECTANGLE_ARB, 0, GL_TEXTURE_HEIGHT, &h);
            EXPECT_EQ(w, k.texWidth);
            EXPECT_EQ(h, 4096);
        }
        glBindTexture(GL_TEXTURE_RECTANGLE_ARB, 0);
        // Bands plus two bands of staging (a decoded page would add about the bands' size again).
        const long bandKiB = static_cast<long>(k.texWidth) * 4096 * 4 / 1024;
        EXPECT_TRUE(!k.streamed || !kChecksResidentSize ||
                    grown < static_cast<long>(bands.size() + 2) * bandKiB)
            << "peak grew " << grown << " KiB";
        // Rows at the seams of the bands (first band from the top ends at h % 4096) and across the page.
        const int seam = k.h % 4096;
        std::vector<int> rows = {seam - 1, seam, seam + 4095, seam + 4096, 50, k.h - 50};
        for (int r = 0; r < k.h; r += k.h / 20)
            rows.push_back(r / 100 * 100 + 50);
        for (int row : rows) {
            if (row < 0)
                continue;
            const int shift = std::max(0, row - 128);
            clear();
            manager().drawWebPageTexture(p.c_str(), 10, -shift, k.w, k.h);
            for (int column : {20, 50})
                EXPECT_PIXEL(gl(), 10 + column, row - shift, stripe(column, row), k.tolerance)
                    << "image row " << row << ", column " << column;
        }
        EXPECT_STREQ(manager().texture_name, p.c_str());
    }
}

TEST_F(TextureManagerTest, TallImageScaleIsFixedAtLoadAndClearedWithTheList)
{
    const std::string p = path("rgb.png"), other = path("other.png");
    ASSERT_TRUE(writeImage(p, FIF_PNG, 40, 300, 24, [](int, int y) {
        return y < 100 ? kRed : y < 200 ? kGreen : kBlue;
    }));
    ASSERT_TRUE(writeImage(other, FIF_PNG, 8, 8, 24, solid(kGreen)));
    manager().drawWebPageTexture(p.c_str(), 10, 5, 80, 150); // x2 wide, /2 tall
    expectPixels(gl(), {{85, 30, kRed}, {85, 130, kBlue}, {95, 30, kBlack}}, 1);
    clear();
    manager().drawWebPageTexture(p.c_str(), 100.9f, 0, 40, 300);
    expectPixels(gl(), {{175, 75, kGreen}, {175, 160, kBlack}, {185, 75, kBlack}}, 1);
    manager().drawWebPageTexture(other.c_str(), 0, 0, 8, 8);
    manager().drawWebPageTexture(p.c_str(), 0, 0, 8, 8); // already listed: not loaded again
    EXPECT_EQ(manager().mega_texture_list.size(), 2u);
    manager().clearLargeTexture();
    EXPECT_TRUE(manager().mega_texture_list.empty());
    EXPECT_EQ(manager().texture_name[0], '\0');
}
