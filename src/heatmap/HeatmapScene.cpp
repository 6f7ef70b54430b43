#include "heatmap/HeatmapScene.h"

#include "boundary/Debug_Trace.h"
#include "gl/GlLoader.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

// The normalised Gaussian, sigma 16 cells, at offsets 0..63: exp(-i^2/512)/sqrt(512 pi),
// as literals of the sums below.
const char* const kWeights[64] = {
    "0.024933893",   "0.024885241",    "0.024739855",    "0.024499431",    "0.024166757",    "0.023745663",
    "0.023240943",   "0.02265827",     "0.022004083",    "0.021285475",    "0.020510061",    "0.019685846",
    "0.01882109",    "0.017924167",    "0.017003437",    "0.016067119",    "0.01512317",     "0.014179183",
    "0.01324229",    "0.012319088",    "0.011415568",    "0.010537074",    "0.0096882666",   "0.008873106",
    "0.0080948497",  "0.0073560632",   "0.0066586418",   "0.0060038438",   "0.0053923324",   "0.004824224",
    "0.0042991422",  "0.0038162753",   "0.0033744354",   "0.0029721182",   "0.0026075616",   "0.0022788021",
    "0.0019837282",  "0.0017201301",   "0.0014857438",   "0.0012782921",   "0.0010955188",   "0.00093521849",
    "0.00079526135", "0.00067361261",  "0.00056834766",  "0.00047766286",  "0.00039988252",  "0.00033346242",
    "0.00027699053", "0.00022918515",  "0.00018889113",  "0.00015507443",  "0.0001268155",   "0.00010330184",
    "0.00008381993", "0.000067747",    "0.000054542668", "0.000043740751", "0.000034941345", "0.000027803313",
    "0.00002203723", "0.000017398869", "0.000013683227", "0.00001071913"};

// Taps reach this many cells either side of the centre.
constexpr int kRadius = 63;

// After the version line, which is the fragment programs' own.
const char* const kVertexBody = "void main()\n"
                                "{\n"
                                "    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
                                "    gl_FrontColor = gl_Color;\n"
                                "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
                                "}\n";

__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...)
{
    char line[128];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(line, sizeof line, pattern, args);
    va_end(args);
    return line;
}

// How a pass reads one tap. With texelFetch (GLSL 1.30) the texel is addressed
// by its integer cell; on GLSL 1.20 it is sampled at its centre. The taps fall
// on texel centres either way, so both give the same values as a filtered fetch.
struct TapReader {
    bool texelFetch;

    const char* header() const { return texelFetch ? "#version 130\n" : "#version 120\n"; }
    const char* position() const
    {
        return texelFetch ? "    ivec2 p = ivec2(gl_FragCoord.xy);\n"
                          : "    vec2 p = gl_TexCoord[0].st;\n"
                            "    const float step = 1.0 / 512.0;\n";
    }
    std::string centre() const
    {
        return texelFetch ? "texelFetch(LookupTex, p, 0)" : "texture2D(LookupTex, p)";
    }
    // The tap `offset` cells away along y; rows wrap around like the texture's REPEAT.
    std::string vertical(int offset) const
    {
        if (texelFetch)
            return format("texelFetch(LookupTex, ivec2(p.x, (p.y %s %d) & 511), 0)", offset < 0 ? "-" : "+",
                          offset < 0 ? -offset : offset);
        return format("texture2D(LookupTex, p %s vec2(0.0, %d.0 * step))", offset < 0 ? "-" : "+",
                      offset < 0 ? -offset : offset);
    }
    // The tap `offset` cells away along x. wrapped: the column is kept inside the
    // texture, for taps whose value a bounds test may then drop.
    std::string horizontal(int offset, bool wrapped) const
    {
        const char* sign = offset < 0 ? "-" : "+";
        const int n = offset < 0 ? -offset : offset;
        if (!texelFetch)
            return format("texture2D(LookupTex, p %s vec2(%d.0 * step, 0.0))", sign, n);
        if (wrapped)
            return format("texelFetch(LookupTex, ivec2((p.x %s %d) & 511, p.y), 0)", sign, n);
        return format("texelFetch(LookupTex, ivec2(p.x %s %d, p.y), 0)", sign, n);
    }
    // True for a tap inside the image along x.
    std::string inside(int offset) const
    {
        const int n = offset < 0 ? -offset : offset;
        if (texelFetch)
            return offset < 0 ? format("p.x - %d >= 0", n) : format("p.x + %d <= 511", n);
        return offset < 0 ? format("p.x - %d.0 * step >= 0.0", n) : format("p.x + %d.0 * step <= 1.0", n);
    }
};

// Vertical pass, unrolled: the centre and 63 pairs of taps, each pair summed
// before it is weighted; samples past the top or bottom wrap around. The heat
// texture holds (L, L, L, 1), so one channel is summed and the colour written
// is what the sum of all four gives: (L', L', L', 16 x the weights, which saturates).
std::string verticalPassSource(const TapReader& tap)
{
    std::string s =
        std::string(tap.header()) + "uniform sampler2D LookupTex;\nvoid main()\n{\n" + tap.position();
    s += std::string("    float sum = ") + kWeights[0] + " * " + tap.centre() + ".r;\n";
    for (int i = 1; i <= kRadius; ++i)
        s += std::string("    sum += ") + kWeights[i] + " * (" + tap.vertical(i) + ".r + " +
             tap.vertical(-i) + ".r);\n";
    return s + "    gl_FragColor = vec4(vec3(sum * 16.0), 1.0);\n}\n";
}

// Horizontal pass and colouring, unrolled, right tap before left at each
// offset. Only the red channel is used by the colouring, so only it is summed.
// bounded: taps outside the image add nothing (columns within 63 cells of an
// edge); the other program serves the columns where no tap can leave the image.
std::string horizontalPassSource(const TapReader& tap, bool bounded)
{
    std::string s = std::string(tap.header()) +
                    "uniform sampler2D LookupTex;\nuniform sampler1D heatmapTable;\nvoid main()\n{\n" +
                    tap.position();
    s += std::string("    float sum = ") + kWeights[0] + " * " + tap.centre() + ".r;\n";
    for (int i = 1; i <= kRadius; ++i)
        for (int offset : {i, -i}) {
            const std::string add =
                std::string("sum += ") + kWeights[i] + " * " + tap.horizontal(offset, bounded) + ".r;\n";
            s += bounded ? "    if (" + tap.inside(offset) + ") " + add : "    " + add;
        }
    return s + "    float v = 9.0 * (sum * 16.0);\n"
               "    gl_FragColor = vec4(texture1D(heatmapTable, v).rgb, clamp(v, 0.0, 0.8));\n"
               "}\n";
}

// texelFetch needs GLSL 1.30; GL 2.x contexts get the sampling sums.
bool hasTexelFetch()
{
    const char* glsl = reinterpret_cast<const char*>(glGetString(GL_SHADING_LANGUAGE_VERSION));
    int major = 0, minor = 0;
    if (glsl == nullptr || std::sscanf(glsl, "%d.%d", &major, &minor) != 2)
        return false;
    return major * 100 + minor >= 130;
}

void progress(const char* line)
{
    puts(line);
    fflush(NULL);
}

// What the two passes change beside textures and the program, put back after
// them, so the caller's settings neither leak in nor get lost.
struct PassGuards {
    qv::SavedFrameBuffers frameBuffers;
    qv::SavedPassSettings settings;
    qv::SavedCapabilities capabilities{GL_BLEND, GL_DEPTH_TEST, GL_SCISSOR_TEST, GL_CULL_FACE};
};

// Rows and columns holding non-zero cells, grown by the kernel radius along
// rows, where the vertical pass wraps round: up to two row spans.
PassRegion passRegion(const unsigned char* image, int s)
{
    PassRegion r{};
    r.rowSpans = 0;
    int rowFirst = s, rowLast = -1, colFirst = s, colLast = -1;
    for (int row = 0; row < s; ++row) {
        const unsigned char* line = image + static_cast<size_t>(row) * static_cast<size_t>(s);
        int first = 0;
        while (first < s && line[first] == 0)
            ++first;
        if (first == s)
            continue;
        int last = s - 1;
        while (line[last] == 0)
            --last;
        rowFirst = std::min(rowFirst, row);
        rowLast = row;
        colFirst = std::min(colFirst, first);
        colLast = std::max(colLast, last);
    }
    if (rowLast < 0)
        return r;
    r.colFirst = colFirst;
    r.colLast = colLast;
    const int lo = rowFirst - kRadius, hi = rowLast + kRadius;
    if (hi - lo + 1 >= s) {
        r.rowSpans = 1;
        r.rowFirst[0] = 0;
        r.rowLast[0] = s - 1;
    } else if (lo < 0) {
        r.rowSpans = 2;
        r.rowFirst[0] = 0;
        r.rowLast[0] = hi;
        r.rowFirst[1] = lo + s;
        r.rowLast[1] = s - 1;
    } else if (hi >= s) {
        r.rowSpans = 2;
        r.rowFirst[0] = lo;
        r.rowLast[0] = s - 1;
        r.rowFirst[1] = 0;
        r.rowLast[1] = hi - s;
    } else {
        r.rowSpans = 1;
        r.rowFirst[0] = lo;
        r.rowLast[0] = hi;
    }
    return r;
}

void setSampler(const Program& program, const char* name, int unit)
{
    glUniform1i(program.uniform(name), unit);
}

} // namespace

HeatmapScene::HeatmapScene()
{
    qv::loadGlEntryPointsOrLog();
    progress(" start glew ");
    progress(" load shader ");
    try {
        const TapReader tap{hasTexelFetch()};
        const std::string vertex = std::string(tap.header()) + kVertexBody;
        file_pass.reset(Program::LoadShaderFromString(vertex, verticalPassSource(tap)));
        rank_pass.reset(Program::LoadShaderFromString(vertex, horizontalPassSource(tap, true)));
        rank_pass_inner.reset(Program::LoadShaderFromString(vertex, horizontalPassSource(tap, false)));
    } catch (const std::exception& e) {
        progress(" find exception ");
        debug_trace("HeatmapScene: %s \n", e.what());
        m_init_successful = 0;
    }
    progress(" finish shder loading  ");
}

HeatmapScene::~HeatmapScene()
{
    progress(" delete 9 ");
    if (heatMapImage) {
        progress(" delete heat map image ");
        heatMapImage.reset();
        progress("after clean heat map image ");
    }
    const GLuint textures[] = {heatmapTextureId, heatmapLookupTex, renderTex, intermediateTex};
    glDeleteTextures(4, textures);
    if (renderFBO != 0 || intermediateFBO != 0) {
        const GLuint fbos[] = {renderFBO, intermediateFBO};
        glDeleteFramebuffers(2, fbos);
    }
    if (renderDepth != 0)
        glDeleteRenderbuffers(1, &renderDepth);
    file_pass.reset();
    rank_pass.reset();
    rank_pass_inner.reset();
    glFlush();
}

void HeatmapScene::initScene()
{
    if (!m_init_successful)
        return;
    const qv::SavedTextures callerTextures({GL_TEXTURE_1D, GL_TEXTURE_2D}, 2);
    const qv::SavedFrameBuffers callerFrameBuffers;
    createColorTable();
    progress(" create color table ");
    setupFbo();
    progress(" setup fbo ");

    const size_t cells = static_cast<size_t>(defaultFboSize) * static_cast<size_t>(defaultFboSize);
    heatMapImage.reset(new unsigned char[cells]);
    std::memset(heatMapImage.get(), 0, cells);
    passImage.reset(new unsigned char[cells]);
    std::memset(passImage.get(), 0, cells);
    initResult();

    if (heatmapTextureId == 0)
        glGenTextures(1, &heatmapTextureId);
    uploadHeatImage();
    progress(" finish heat map init ");
}

void HeatmapScene::createColorTable()
{
    // green, green, yellow, yellow, red
    const unsigned char table[5 * 3] = {0, 255, 0, 0, 255, 0, 255, 255, 0, 255, 255, 0, 255, 0, 0};
    glGenTextures(1, &heatmapLookupTex);
    glBindTexture(GL_TEXTURE_1D, heatmapLookupTex);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // One row: the unpack alignment does not apply.
    {
        const ScopedUnpackState unpack(1); // rows of 15 bytes
        glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA, 5, 0, GL_RGB, GL_UNSIGNED_BYTE, table);
    }
    glBindTexture(GL_TEXTURE_1D, 0);
}

void HeatmapScene::setupFbo()
{
    const int s = defaultFboSize;
    const ScopedUnpackState unpack(4); // storage without data: no caller's unpack buffer is read
    progress(" BIND fbo ");
    glGenFramebuffers(1, &renderFBO);
    glBindFramebuffer(GL_FRAMEBUFFER, renderFBO);
    glGenTextures(1, &renderTex);
    glBindTexture(GL_TEXTURE_2D, renderTex);
    progress(" BEFORE BIND TEXTURE ");
    progress(" AFTER BIND TEXTURE ");
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, s, s, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, renderTex, 0);
    progress(" bind fbo to texture ");

    glGenRenderbuffers(1, &renderDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, renderDepth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, s, s);
    progress(" bind second fbo ");
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderDepth);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    const GLenum attachment = GL_COLOR_ATTACHMENT0;
    glDrawBuffers(1, &attachment);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    glGenFramebuffers(1, &intermediateFBO);
    glBindFramebuffer(GL_FRAMEBUFFER, intermediateFBO);
    glGenTextures(1, &intermediateTex);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, intermediateTex);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, s, s, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, intermediateTex, 0);
    glDrawBuffers(1, &attachment);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    progress(" finish fbo setup ");
}

void HeatmapScene::uploadHeatImage()
{
    const int s = defaultFboSize;
    const ScopedUnpackState unpack(1); // one byte per cell, rows back to back
    const qv::SavedTexture caller(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, heatmapTextureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, s, s, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, passImage.get());
}

int HeatmapScene::cellOf(int x, int y, int w, int h) const
{
    if (w < 1 || h < 1 || x < 0 || y < 0 || x >= w || y >= h)
        return -1;
    const float scale = static_cast<float>(defaultFboSize) / static_cast<float>(w > h ? w : h);
    const int row = static_cast<int>(static_cast<float>(y) * scale);
    const int col = static_cast<int>(static_cast<float>(x) * scale);
    if (row < 0 || row >= defaultFboSize || col < 0 || col >= defaultFboSize)
        return -1;
    return row * defaultFboSize + col;
}

void HeatmapScene::updateHeatMapValue(int count, int x, int y, int w, int h)
{
    m_heatmapW = w;
    m_heatmapH = h;
    const int cell = cellOf(x, y, w, h);
    if (cell >= 0 && heatMapImage)
        heatMapImage[cell] = static_cast<unsigned char>(count & 0xff);
}

void HeatmapScene::updateHeatMapImage(const void* image, int w, int h, int imageSize)
{
    m_heatmapW = w;
    m_heatmapH = h;
    if (!heatMapImage)
        return;
    std::memset(heatMapImage.get(), 0,
                static_cast<size_t>(defaultFboSize) * static_cast<size_t>(defaultFboSize));
    const unsigned char* record = static_cast<const unsigned char*>(image);
    for (int i = 0; record != nullptr && i < imageSize; ++i, record += kRecordBytes) {
        int32_t xy[2];
        int32_t third;
        std::memcpy(xy, record, sizeof xy);
        std::memcpy(&third, record + 8, sizeof third);
        const int cell = cellOf(xy[0], xy[1], w, h);
        if (cell >= 0)
            heatMapImage[cell] = static_cast<unsigned char>(third & 0xff);
    }
}

void HeatmapScene::drawBlurQuad() const
{
    const float s = static_cast<float>(defaultFboSize);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(0, s, -1);
    glTexCoord2f(1, 0);
    glVertex3f(s, s, -1);
    glTexCoord2f(1, 1);
    glVertex3f(s, 0, -1);
    glTexCoord2f(0, 1);
    glVertex3f(0, 0, -1);
    glEnd();
}

void HeatmapScene::beginPasses() const
{
    const int s = defaultFboSize;
    glViewport(0, 0, s, s);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, s, s, 0, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    // The passes must not depend on the caller's settings.
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_CULL_FACE);
}

void HeatmapScene::endPasses() const
{
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void HeatmapScene::drawRegion(const PassRegion& region, int colFirst, int colLast) const
{
    if (colFirst > colLast)
        return;
    glEnable(GL_SCISSOR_TEST);
    for (int i = 0; i < region.rowSpans; ++i) {
        glScissor(colFirst, region.rowFirst[i], colLast - colFirst + 1,
                  region.rowLast[i] - region.rowFirst[i] + 1);
        drawBlurQuad();
    }
    glDisable(GL_SCISSOR_TEST);
}

void HeatmapScene::verticalPass(const PassRegion& region) const
{
    glBindFramebuffer(GL_FRAMEBUFFER, renderFBO);
    // What the pass writes for zero input; its alpha saturates at 1.
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    file_pass->use();
    setSampler(*file_pass, "LookupTex", 0);
    glEnable(GL_TEXTURE_2D);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, heatmapTextureId);
    // The vertical blur spreads along columns only.
    drawRegion(region, region.colFirst, region.colLast);
    file_pass->stopUsing();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void HeatmapScene::horizontalPass(const PassRegion& region) const
{
    glBindFramebuffer(GL_FRAMEBUFFER, intermediateFBO);
    clearResult();
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, renderTex);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_1D, heatmapLookupTex);
    glEnable(GL_TEXTURE_2D);
    // Columns within reach of the non-zero ones; the bounds-tested program only
    // where a tap can fall outside the image.
    const int first = std::max(0, region.colFirst - kRadius);
    const int last = std::min(defaultFboSize - 1, region.colLast + kRadius);
    const int innerFirst = kRadius, innerLast = defaultFboSize - 1 - kRadius;
    for (Program* program : {rank_pass.get(), rank_pass_inner.get()}) {
        program->use();
        setSampler(*program, "LookupTex", 0);
        setSampler(*program, "heatmapTable", 1);
        if (program == rank_pass_inner.get()) {
            drawRegion(region, std::max(first, innerFirst), std::min(last, innerLast));
        } else {
            drawRegion(region, first, std::min(last, innerFirst - 1));
            drawRegion(region, std::max(first, innerLast + 1), last);
        }
    }
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_1D, 0);
    glUseProgram(0);
}

void HeatmapScene::clearResult() const
{
    glClearColor(zeroColour[0] / 255.0f, zeroColour[1] / 255.0f, zeroColour[2] / 255.0f,
                 zeroColour[3] / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void HeatmapScene::runBlurPasses()
{
    const PassRegion region = passRegion(passImage.get(), defaultFboSize);
    beginPasses();
    if (region.rowSpans == 0) {
        // Nothing to spread: the result is the zero-input colour everywhere.
        glBindFramebuffer(GL_FRAMEBUFFER, intermediateFBO);
        clearResult();
    } else {
        verticalPass(region);
        horizontalPass(region);
    }
    endPasses();
}

void HeatmapScene::initResult()
{
    // The colouring pass's output for zero input depends on the colour table's
    // filtering at 0, so it is measured: one pixel of the pass over a cleared
    // renderTex, read back once.
    const qv::SavedProgram callerProgram;
    const PassGuards caller;
    beginPasses();
    glBindFramebuffer(GL_FRAMEBUFFER, renderFBO);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    PassRegion one{};
    one.rowSpans = 1;
    one.rowFirst[0] = one.rowLast[0] = 0;
    one.colFirst = one.colLast = kRadius; // grown by the radius: column 0 .. 126, row 0
    horizontalPass(one);
    {
        ScopedPackState pack;
        glReadPixels(0, 0, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, zeroColour);
    }
    // The kept result now stands for an all-zero heat image.
    clearResult();
    endPasses();
}

void HeatmapScene::drawResultQuad() const
{
    const float w = static_cast<float>(m_heatmapW);
    const float h = static_cast<float>(m_heatmapH);
    float tw = 1.0f, ty = 1.0f;
    if (m_heatmapW > m_heatmapH)
        ty = h / w;
    else
        tw = w / h;

    glEnable(GL_BLEND);
    glBlendEquationSeparate(GL_FUNC_ADD, GL_FUNC_ADD);
    glBlendFuncSeparate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, intermediateTex);
    glBegin(GL_QUADS);
    glTexCoord2f(0, ty);
    glVertex3f(0, h, 1);
    glTexCoord2f(tw, ty);
    glVertex3f(w, h, 1);
    glTexCoord2f(tw, 0);
    glVertex3f(w, 0, 1);
    glTexCoord2f(0, 0);
    glVertex3f(0, 0, 1);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
}

void HeatmapScene::drawHeatMap()
{
    if (m_heatmapW < 1 || m_heatmapH < 1 || !m_init_successful || !heatMapImage || heatmapTextureId == 0)
        return;
    const qv::SavedProgram callerProgram;
    const qv::SavedTextures callerTextures({GL_TEXTURE_1D, GL_TEXTURE_2D}, 2);
    const size_t cells = static_cast<size_t>(defaultFboSize) * static_cast<size_t>(defaultFboSize);
    // The result depends on the heat image alone: the image the kept result was
    // made from needs neither upload nor passes. Otherwise it becomes the kept
    // image (swapped, not copied) and the other buffer is the one cleared for
    // the next updates.
    const bool changed = std::memcmp(heatMapImage.get(), passImage.get(), cells) != 0;
    if (changed) {
        heatMapImage.swap(passImage);
        uploadHeatImage();
    }
    std::memset(heatMapImage.get(), 0, cells);

    if (changed) {
        const PassGuards caller;
        runBlurPasses();
    }
    // The result is a fixed-function quad with texture coordinates of unit 0;
    // the guards above give back the caller's program, unit and textures.
    glUseProgram(0);
    glActiveTexture(GL_TEXTURE0);
    drawResultQuad();
}
