// The heatmap scene as it was before the draw learnt to skip unchanged images,
// fetch taps with texelFetch and scissor its passes: kept here, bench-only,
// so bench_heatmap can time it and compare its read-backs with the library's
// path in the same run. Not built into the library.
#include "legacy_HeatmapScene.h"

#include "boundary/Debug_Trace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

// The normalised Gaussian, sigma 16 cells, at offsets 0..63: exp(-i^2/512)/sqrt(512 pi).
const char* const kWeights =
    "0.024933893, 0.024885241, 0.024739855, 0.024499431, 0.024166757, 0.023745663, 0.023240943, 0.02265827,\n"
    "0.022004083, 0.021285475, 0.020510061, 0.019685846, 0.01882109, 0.017924167, 0.017003437, 0.016067119,\n"
    "0.01512317, 0.014179183, 0.01324229, 0.012319088, 0.011415568, 0.010537074, 0.0096882666, 0.008873106,\n"
    "0.0080948497, 0.0073560632, 0.0066586418, 0.0060038438, 0.0053923324, 0.004824224, 0.0042991422, 0.0038162753,\n"
    "0.0033744354, 0.0029721182, 0.0026075616, 0.0022788021, 0.0019837282, 0.0017201301, 0.0014857438, 0.0012782921,\n"
    "0.0010955188, 0.00093521849, 0.00079526135, 0.00067361261, 0.00056834766, 0.00047766286, 0.00039988252, 0.00033346242,\n"
    "0.00027699053, 0.00022918515, 0.00018889113, 0.00015507443, 0.0001268155, 0.00010330184, 0.00008381993, 0.000067747,\n"
    "0.000054542668, 0.000043740751, 0.000034941345, 0.000027803313, 0.00002203723, 0.000017398869, 0.000013683227, 0.00001071913\n";

const char* const kVertexSource = "#version 120\n"
                                  "void main()\n"
                                  "{\n"
                                  "    gl_Position = gl_ModelViewProjectionMatrix * gl_Vertex;\n"
                                  "    gl_FrontColor = gl_Color;\n"
                                  "    gl_TexCoord[0] = gl_MultiTexCoord0;\n"
                                  "}\n";

// What both blur passes declare: the sampled texture, any extra uniforms, the
// 64 weights initialised in the source, and the step of one cell.
std::string passPrelude(const char* extraUniforms)
{
    return std::string("#version 120\n"
                       "uniform sampler2D LookupTex;\n") +
           extraUniforms + "uniform float Weight[64] = float[64](\n" + kWeights +
           ");\n"
           "const float step = 1.0 / 512.0;\n";
}

// Vertical pass: no bounds test, samples past an edge follow the texture's wrap mode.
std::string verticalPassSource()
{
    return passPrelude("") +
           "void main()\n"
           "{\n"
           "    vec2 p = gl_TexCoord[0].st;\n"
           "    vec4 sum = Weight[0] * texture2D(LookupTex, p);\n"
           "    for (int i = 1; i < 64; i++) {\n"
           "        vec2 d = vec2(0.0, float(i) * step);\n"
           "        sum += Weight[i] * (texture2D(LookupTex, p + d) + texture2D(LookupTex, p - d));\n"
           "    }\n"
           "    gl_FragColor = sum * 16.0;\n"
           "}\n";
}

// Horizontal pass and colouring: samples stay inside [0, 1] along x.
std::string horizontalPassSource()
{
    return passPrelude("uniform sampler1D heatmapTable;\n") +
           "void main()\n"
           "{\n"
           "    vec2 p = gl_TexCoord[0].st;\n"
           "    vec4 sum = Weight[0] * texture2D(LookupTex, p);\n"
           "    for (int i = 1; i < 64; i++) {\n"
           "        vec2 d = vec2(float(i) * step, 0.0);\n"
           "        if (p.x + d.x <= 1.0)\n"
           "            sum += Weight[i] * texture2D(LookupTex, p + d);\n"
           "        if (p.x - d.x >= 0.0)\n"
           "            sum += Weight[i] * texture2D(LookupTex, p - d);\n"
           "    }\n"
           "    vec4 c = sum * 16.0;\n"
           "    float v = 9.0 * c.r;\n"
           "    gl_FragColor = vec4(texture1D(heatmapTable, v).rgb, clamp(v, 0.0, 0.8));\n"
           "}\n";
}

void progress(const char* line)
{
    puts(line);
    fflush(NULL);
}

// The state the two passes depend on or change, saved before and put back
// after them, so the caller's settings neither leak in nor get lost.
struct PassState {
    GLint viewport[4];
    GLint matrixMode;
    GLint drawFramebuffer;
    GLint readFramebuffer;
    GLint activeTexture;
    GLint program;
    GLfloat clearColor[4];
    GLboolean blend, depthTest, scissorTest, cullFace;

    static PassState save()
    {
        PassState s;
        glGetIntegerv(GL_VIEWPORT, s.viewport);
        glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
        glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &s.drawFramebuffer);
        glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &s.readFramebuffer);
        glGetIntegerv(GL_ACTIVE_TEXTURE, &s.activeTexture);
        glGetIntegerv(GL_CURRENT_PROGRAM, &s.program);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, s.clearColor);
        s.blend = glIsEnabled(GL_BLEND);
        s.depthTest = glIsEnabled(GL_DEPTH_TEST);
        s.scissorTest = glIsEnabled(GL_SCISSOR_TEST);
        s.cullFace = glIsEnabled(GL_CULL_FACE);
        return s;
    }

    static void enable(GLenum cap, GLboolean on)
    {
        if (on)
            glEnable(cap);
        else
            glDisable(cap);
    }

    // Everything but the active texture unit and the program: the final
    // quad is drawn without a program, with the texture on unit 0.
    void restore() const
    {
        glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(drawFramebuffer));
        glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(readFramebuffer));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glMatrixMode(static_cast<GLenum>(matrixMode));
        glClearColor(clearColor[0], clearColor[1], clearColor[2], clearColor[3]);
        enable(GL_BLEND, blend);
        enable(GL_DEPTH_TEST, depthTest);
        enable(GL_SCISSOR_TEST, scissorTest);
        enable(GL_CULL_FACE, cullFace);
    }
};

void setSampler(const Program& program, const char* name, int unit)
{
    glUniform1i(program.uniform(name), unit);
}

} // namespace

LegacyHeatmapScene::LegacyHeatmapScene()
{
    glewExperimental = GL_TRUE;
    const GLenum glew = glewInit();
    // Without a GLX display GLEW still loads the entry points of the current context.
    if (glew != GLEW_OK && glew != GLEW_ERROR_NO_GLX_DISPLAY)
        debug_trace("LegacyHeatmapScene: glewInit: %s \n",
                    reinterpret_cast<const char*>(glewGetErrorString(glew)));
    progress(" start glew ");
    progress(" load shader ");
    try {
        file_pass.reset(Program::LoadShaderFromString(kVertexSource, verticalPassSource()));
        rank_pass.reset(Program::LoadShaderFromString(kVertexSource, horizontalPassSource()));
    } catch (const std::exception& e) {
        progress(" find exception ");
        debug_trace("LegacyHeatmapScene: %s \n", e.what());
        m_init_successful = 0;
    }
    progress(" finish shder loading  ");
}

LegacyHeatmapScene::~LegacyHeatmapScene()
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
    glFlush();
}

void LegacyHeatmapScene::initScene()
{
    if (!m_init_successful)
        return;
    createColorTable();
    progress(" create color table ");
    setupFbo();
    progress(" setup fbo ");

    const size_t cells = static_cast<size_t>(defaultFboSize) * static_cast<size_t>(defaultFboSize);
    heatMapImage.reset(new unsigned char[cells]);
    std::memset(heatMapImage.get(), 0, cells);

    if (heatmapTextureId == 0)
        glGenTextures(1, &heatmapTextureId);
    uploadHeatImage();
    progress(" finish heat map init ");
}

void LegacyHeatmapScene::createColorTable()
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
    glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA, 5, 0, GL_RGB, GL_UNSIGNED_BYTE, table);
    glBindTexture(GL_TEXTURE_1D, 0);
}

void LegacyHeatmapScene::setupFbo()
{
    const int s = defaultFboSize;
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

void LegacyHeatmapScene::uploadHeatImage()
{
    const int s = defaultFboSize;
    glBindTexture(GL_TEXTURE_2D, heatmapTextureId);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, s, s, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, heatMapImage.get());
    glBindTexture(GL_TEXTURE_2D, 0);
}

int LegacyHeatmapScene::cellOf(int x, int y, int w, int h) const
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

void LegacyHeatmapScene::updateHeatMapValue(int count, int x, int y, int w, int h)
{
    m_heatmapW = w;
    m_heatmapH = h;
    const int cell = cellOf(x, y, w, h);
    if (cell >= 0 && heatMapImage)
        heatMapImage[cell] = static_cast<unsigned char>(count & 0xff);
}

void LegacyHeatmapScene::updateHeatMapImage(const void* image, int w, int h, int imageSize)
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

void LegacyHeatmapScene::drawBlurQuad() const
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

void LegacyHeatmapScene::runBlurPasses()
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
    glClearColor(0, 0, 0, 0);

    file_pass->use();
    glBindFramebuffer(GL_FRAMEBUFFER, renderFBO);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    setSampler(*file_pass, "LookupTex", 0);
    glEnable(GL_TEXTURE_2D);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, heatmapTextureId);
    drawBlurQuad();
    file_pass->stopUsing();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);

    glBindFramebuffer(GL_FRAMEBUFFER, intermediateFBO);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    rank_pass->use();
    setSampler(*rank_pass, "LookupTex", 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, renderTex);
    setSampler(*rank_pass, "heatmapTable", 1);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_1D, heatmapLookupTex);
    glEnable(GL_TEXTURE_2D);
    drawBlurQuad();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_1D, 0);
    glDisable(GL_BLEND);
    rank_pass->stopUsing();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void LegacyHeatmapScene::drawResultQuad() const
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

void LegacyHeatmapScene::drawHeatMap()
{
    if (m_heatmapW < 1 || m_heatmapH < 1 || !m_init_successful || !heatMapImage)
        return;
    if (heatmapTextureId != 0) {
        uploadHeatImage();
        std::memset(heatMapImage.get(), 0,
                    static_cast<size_t>(defaultFboSize) * static_cast<size_t>(defaultFboSize));
    }
    const PassState caller = PassState::save();
    runBlurPasses();
    caller.restore();
    // The result is a fixed-function quad with texture coordinates of unit 0.
    drawResultQuad();
    glActiveTexture(static_cast<GLenum>(caller.activeTexture));
    glUseProgram(static_cast<GLuint>(caller.program));
}
