#include "overlay/CircleDataSets.h"

#include "gl/GlLoader.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"

#include "boundary/Debug_Trace.h"

#include <GL/glu.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <set>

float* CircleDataSets::attributeTex = nullptr;
unsigned char* CircleDataSets::attributeTex2 = nullptr;
DataNodes* CircleDataSets::testNode = nullptr;
GLushort CircleDataSets::vbo_index[CircleDataSets::kCirclePoints];
GLushort CircleDataSets::vbo_tri_index[CircleDataSets::kTriIndices];
CircleDataSets::static_init CircleDataSets::m_static_init;

CircleDataSets::static_init::static_init()
{
    // Zeroed, so a slot never written draws as an empty, black, hidden node.
    attributeTex = new float[static_cast<size_t>(kCapacity) * 4]();
    attributeTex2 = new unsigned char[static_cast<size_t>(kCapacity) * 3]();
    createCircle();
}

CircleDataSets::static_init::~static_init()
{
    delete[] attributeTex;
    delete[] attributeTex2;
    delete testNode;
    attributeTex = nullptr;
    attributeTex2 = nullptr;
    testNode = nullptr;
}

namespace {

// No version directive: the compatibility language with gl_Vertex and the
// built-in matrices. Each instance fetches its node from the tables by number.
// The node of this instance, fetched from the tables by number: position in
// p.xy, size in p.z, shown flag in p.w; radius in template units.
#define QV_NODE_HEADER                                                                                       \
    "#extension GL_ARB_draw_instanced : enable\n"                                                            \
    "uniform sampler2D vtxtex;\n"                                                                            \
    "uniform int width;\n"                                                                                   \
    "uniform int height;\n"                                                                                  \
    "uniform float urx;\n"                                                                                   \
    "uniform float ury;\n"                                                                                   \
    "varying vec4 color;\n"
#define QV_NODE_FETCH                                                                                        \
    "    int n = gl_InstanceIDARB;\n"                                                                        \
    "    int row = n / 1024;\n"                                                                              \
    "    int column = n - row * 1024;\n"                                                                     \
    "    vec2 uv = vec2(float(column), float(row)) * (1.0 / 1024.0);\n"                                      \
    "    vec4 p = texture2D(vtxtex, uv);\n"                                                                  \
    "    float radius = p.z * 5.12;\n"

const char* kDisplayVertex =
    QV_NODE_HEADER "uniform sampler2D vtxtex2;\n"
                   "void main() {\n" QV_NODE_FETCH "    vec4 q = texture2D(vtxtex2, uv);\n"
                   "    color = vec4(q.r, q.g, q.b, 1.0);\n"
                   "    vec4 v = vec4(p.x * float(width) * urx + gl_Vertex.x * radius,\n"
                   "                  p.y * float(height) * ury + gl_Vertex.y * radius, 0.0, 1.0);\n"
                   "    gl_Position = gl_ModelViewProjectionMatrix * v;\n"
                   "}\n";

const char* kPickVertex = QV_NODE_HEADER
    "void main() {\n" QV_NODE_FETCH "    int id = n + 1;\n"
    "    int rr = id / 65536;\n"
    "    int gg = (id - rr * 65536) / 256;\n"
    "    int bb = id - rr * 65536 - gg * 256;\n"
    "    color = vec4(float(rr) * (1.0 / 255.0), float(gg) * (1.0 / 255.0), float(bb) * (1.0 / 255.0), 1.0);\n"
    "    vec4 v = vec4(p.x * float(width) * urx + gl_Vertex.x * radius,\n"
    "                  p.y * float(height) * ury + gl_Vertex.y * radius, (1.0 - p.w) * (-100.0), 1.0);\n"
    "    gl_Position = gl_ModelViewProjectionMatrix * v;\n"
    "}\n";

const char* kPlainFragment = "varying vec4 color;\n"
                             "void main() { gl_FragColor = color; }\n";

// Drops a fragment whose pick colour is already in the previous pass's image.
const char* kLookupFragment = "uniform sampler2D lookupTex;\n"
                              "varying vec4 color;\n"
                              "void main() {\n"
                              "    vec4 seen = texture2D(lookupTex, vec2(gl_FragCoord.x, gl_FragCoord.y));\n"
                              "    if (seen.r == color.r && seen.g == color.g && seen.b == color.b)\n"
                              "        discard;\n"
                              "    gl_FragColor = color;\n"
                              "}\n";

unsigned char colourByte(float c)
{
    // Truncated toward zero, low 8 bits kept (the int conversion of an
    // out-of-range float is undefined, so clamp to int's range first).
    const double v = std::trunc(static_cast<double>(c) * 255.0);
    if (!(v > -2147483648.0 && v < 2147483647.0))
        return 0;
    return static_cast<unsigned char>(static_cast<int>(v) & 0xFF);
}

void uploadTable(GLuint texture, GLint internalFormat, GLenum format, GLenum type, const void* data)
{
    const qv::SavedTexture caller(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    {
        ScopedUnpackState unpack(1); // the caller's pixel-store state comes back
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, CircleDataSets::kTexSize, CircleDataSets::kTexSize, 0,
                     format, type, data);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// Fails loudly (throws) when a uniform the drawing relies on is missing.
void initUniforms(Program& program, int width, int height, float urx, float ury)
{
    program.use();
    program.setUniform("width", width);
    program.setUniform("height", height);
    program.setUniform("urx", urx);
    program.setUniform("ury", ury);
    program.setUniform("vtxtex", 0);
    program.stopUsing();
}

void makeColourTarget(GLuint& frameBuffer, GLuint& texture, GLuint& depth, GLint internalFormat, int w, int h)
{
    // Callers hold qv::SavedFrameBuffers, which gives back the frame and render buffers.
    const qv::SavedTexture callerTexture(GL_TEXTURE_2D);
    glGenFramebuffers(1, &frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    {
        ScopedUnpackState unpack(4); // no data: a caller's unpack buffer must not be read
        glTexImage2D(GL_TEXTURE_2D, 0, internalFormat, w, h, 0, GL_RGB, GL_FLOAT, nullptr);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glGenRenderbuffers(1, &depth);
    glBindRenderbuffer(GL_RENDERBUFFER, depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glFramebufferTexture2D(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth);
}

// The caller's canvas state that a selection changes, put back when it ends
// (bindings and the program have guards of their own, qv::Saved*).
struct SavedCanvasState {
    GLint viewport[4];
    GLfloat projection[16];
    GLfloat modelview[16];
    GLint matrixMode;
    GLfloat clearColour[4];
    GLint readBuffer;
    GLboolean vertexArray;

    SavedCanvasState()
    {
        glGetIntegerv(GL_VIEWPORT, viewport);
        glGetFloatv(GL_PROJECTION_MATRIX, projection);
        glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
        glGetIntegerv(GL_READ_BUFFER, &readBuffer);
        vertexArray = glIsEnabled(GL_VERTEX_ARRAY);
    }
    ~SavedCanvasState()
    {
        glReadBuffer(static_cast<GLenum>(readBuffer));
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(projection);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(modelview);
        glMatrixMode(static_cast<GLenum>(matrixMode));
        glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
        if (vertexArray)
            glEnableClientState(GL_VERTEX_ARRAY);
        else
            glDisableClientState(GL_VERTEX_ARRAY);
    }
    SavedCanvasState(const SavedCanvasState&) = delete;
    SavedCanvasState& operator=(const SavedCanvasState&) = delete;
};

} // namespace

const CircleShaderSources& CircleDataSets::embeddedSources()
{
    static const CircleShaderSources sources{kDisplayVertex, kPickVertex, kPlainFragment, kLookupFragment};
    return sources;
}

void CircleDataSets::createCircle()
{
    delete testNode;
    testNode = new DataNodes();
    testNode->datasize = kCirclePoints;
    testNode->cx = testNode->cy = testNode->cz = 0;
    testNode->lineloopData = new float[kCirclePoints * 2];
    for (int i = 0; i < kCirclePoints; ++i) {
        const float theta = static_cast<float>(i) * 6.283185f / static_cast<float>(kCirclePoints);
        testNode->lineloopData[2 * i] =
            static_cast<float>(testNode->cx + 200.0 * std::cos(static_cast<double>(theta)));
        testNode->lineloopData[2 * i + 1] =
            static_cast<float>(testNode->cy + 200.0 * std::sin(static_cast<double>(theta)));
        vbo_index[i] = static_cast<GLushort>(i);
    }
    int k = 0;
    for (int i = 2; i < kCirclePoints; ++i) {
        vbo_tri_index[k++] = 0;
        vbo_tri_index[k++] = static_cast<GLushort>(i);
        vbo_tri_index[k++] = static_cast<GLushort>(i - 1);
    }
}

CircleDataSets::CircleDataSets() = default;

CircleDataSets::CircleDataSets(int w, int h) : rx(w), ry(h)
{
    version = 0;
    qv::loadGlEntryPointsOrLog();

    printf("test circle %d %d \n", w, h);
    fflush(stdout);
    const char* versionString = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    printf("test glstring %s \n", versionString != nullptr ? versionString : "(null)");
    fflush(stdout);
    if (versionString != nullptr && versionString[0] >= '0' && versionString[0] <= '9') {
        version = versionString[0] - '0';
    } else {
        printf(" get opengl version %s \n", versionString != nullptr ? versionString : "(null)");
        fflush(stdout);
    }

    totalNodes = 0;
    updateRatiox = updateRatioy = 1.0f;
    const qv::SavedBuffers callerBuffers({GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER});
    if (version > 2) {
        const qv::SavedFrameBuffers callerFrameBuffers;
        makeColourTarget(m_frameBuffer2, m_renderTexture2, m_renderDepth2, GL_RGB32F, 2, 2);
    }
    init();
}

CircleDataSets::~CircleDataSets()
{
    // The exports never destroy an object; native owners (tests, benches) do.
    releasePrograms();
    deletePickBuffers();
    if (version > 2) {
        glDeleteFramebuffers(1, &m_frameBuffer2);
        glDeleteTextures(1, &m_renderTexture2);
        glDeleteRenderbuffers(1, &m_renderDepth2);
    }
    const GLuint buffers[] = {pvbo, ivbo, ivbo_tri};
    for (GLuint b : buffers)
        if (b != kNoName && b != 0)
            glDeleteBuffers(1, &b);
}

void CircleDataSets::init()
{
    glGenBuffers(1, &pvbo);
    glBindBuffer(GL_ARRAY_BUFFER, pvbo);
    glBufferData(GL_ARRAY_BUFFER, kCirclePoints * 2 * sizeof(float), testNode->lineloopData, GL_STREAM_DRAW);
    ivbo = createVBO(vbo_index, 2 * kCirclePoints, GL_ELEMENT_ARRAY_BUFFER, GL_STATIC_DRAW);
    ivbo_tri = createVBO(vbo_tri_index, 2 * kTriIndices, GL_ELEMENT_ARRAY_BUFFER, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
}

GLuint CircleDataSets::createVBO(const void* data, int dataSize, GLenum target, GLenum usage)
{
    GLuint id = 0;
    glGenBuffers(1, &id);
    glBindBuffer(target, id);
    glBufferData(target, dataSize, data, usage);
    GLint bufferSize = 0;
    glGetBufferParameteriv(target, GL_BUFFER_SIZE, &bufferSize);
    if (bufferSize != dataSize) {
        glDeleteBuffers(1, &id);
        printf("[createVBO()] Data size is mismatch with input array\n");
        return 0;
    }
    return id;
}

int CircleDataSets::getPower2(int num) { return ::getPower2(num); }

bool CircleDataSets::validSlot(const char* what, int slot)
{
    if (slot >= 0 && slot < kCapacity)
        return true;
    debug_trace("%s: slot %d outside 0 .. %d, nothing written \n", what, slot, kCapacity - 1);
    return false;
}

void CircleDataSets::writeSlot(int slot, float x, float y, float size)
{
    float* p = attributeTex + static_cast<size_t>(slot) * 4;
    p[0] = x / static_cast<float>(rx);
    p[1] = y / static_cast<float>(ry);
    p[2] = size / 1024.0f;
    p[3] = 1.0f;
}

void CircleDataSets::addCircleNode(float x, float y, float size, float r, float g, float b)
{
    addCircleNode(totalNodes, x, y, size, r, g, b);
}

void CircleDataSets::addCircleNode(int index, float x, float y, float size, float r, float g, float b)
{
    if (!validSlot("addCircleNode", index))
        return;
    writeSlot(index, x, y, size);
    unsigned char* c = attributeTex2 + static_cast<size_t>(index) * 3;
    c[0] = colourByte(r);
    c[1] = colourByte(g);
    c[2] = colourByte(b);
    totalNodes = index + 1;
}

void CircleDataSets::updateNode(int id, float x, float y, float size, float r, float g, float b)
{
    if (!validSlot("updateNode", id))
        return;
    writeSlot(id, x, y, size);
}

void CircleDataSets::hideNode(int* list, int size)
{
    for (int i = 0; i < size; ++i)
        if (validSlot("hideNode", list[i]))
            attributeTex[static_cast<size_t>(list[i]) * 4 + 3] = 0.0f;
    uploadAttributes();
}

void CircleDataSets::hideNode() { hideNode(pick_list.data(), static_cast<int>(pick_list.size())); }

void CircleDataSets::resetNode()
{
    for (int slot : pick_list)
        if (validSlot("resetNode", slot))
            attributeTex[static_cast<size_t>(slot) * 4 + 3] = 1.0f;
    uploadAttributes();
    pick_list.clear();
}

void CircleDataSets::updateNode()
{
    for (int slot : pick_list)
        if (validSlot("updateNode", slot))
            std::memset(attributeTex2 + static_cast<size_t>(slot) * 3, 0, 3);
    uploadColours();
}

void CircleDataSets::uploadAttributes()
{
    if (attributeTexID != 0)
        uploadTable(attributeTexID, GL_RGBA32F, GL_RGBA, GL_FLOAT, attributeTex);
}

void CircleDataSets::uploadColours()
{
    if (attributeTexID2 != 0)
        uploadTable(attributeTexID2, GL_RGBA, GL_RGB, GL_UNSIGNED_BYTE, attributeTex2);
}

void CircleDataSets::releasePrograms()
{
    delete m_shader;
    delete m_shader_pick;
    delete m_shader_tri;
    m_shader = m_shader_pick = m_shader_tri = nullptr;
    if (attributeTexID != 0)
        glDeleteTextures(1, &attributeTexID);
    if (attributeTexID2 != 0)
        glDeleteTextures(1, &attributeTexID2);
    attributeTexID = attributeTexID2 = 0;
    programsReady = false;
}

void CircleDataSets::createVbo() { createVbo(embeddedSources()); }

void CircleDataSets::createVbo(const CircleShaderSources& sources)
{
    if (version <= 2)
        return;
    const qv::SavedProgram caller;
    releasePrograms();
    programFailed = false;
    try {
        m_shader = Program::LoadShaderFromString(sources.displayVertex, sources.plainFragment);
        m_shader_pick = Program::LoadShaderFromString(sources.pickVertex, sources.lookupFragment);
        m_shader_tri = Program::LoadShaderFromString(sources.pickVertex, sources.plainFragment);
        for (Program* p : {m_shader, m_shader_pick, m_shader_tri})
            initUniforms(*p, rx, ry, updateRatiox, updateRatioy);
        m_shader->use();
        m_shader->setUniform("vtxtex2", 2);
        m_shader->stopUsing();
        m_shader_pick->use();
        m_shader_pick->setUniform("lookupTex", 1);
        m_shader_pick->stopUsing();
    } catch (const std::exception& e) {
        debug_trace("CircleDataSets: circle programs failed, drawing without them: %s \n", e.what());
        glUseProgram(0);
        releasePrograms();
        programFailed = true;
        return;
    }
    glGenTextures(1, &attributeTexID);
    uploadAttributes();
    glGenTextures(1, &attributeTexID2);
    uploadColours();
    programsReady = true;
}

void CircleDataSets::bindCircleVertices()
{
    glEnableClientState(GL_VERTEX_ARRAY);
    glBindBuffer(GL_ARRAY_BUFFER, pvbo);
    glVertexPointer(2, GL_FLOAT, 0, nullptr);
}

void CircleDataSets::renderVbo(int mode)
{
    if (usesFallback()) {
        for (int s = 0; s < totalNodes; ++s) {
            const float* p = attributeTex + static_cast<size_t>(s) * 4;
            const unsigned char* c = attributeTex2 + static_cast<size_t>(s) * 3;
            const float half = 1024.0f * p[2] * 0.5f;
            drawSingleCircle(static_cast<float>(rx) * p[0], static_cast<float>(ry) * p[1], half, half,
                             c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, 0, 1.3f);
        }
        return;
    }
    if (!programsReady || totalNodes < 1)
        return;
    const qv::SavedProgram callerProgram;
    const qv::SavedTextures callerTextures({GL_TEXTURE_2D}, 3);
    const qv::SavedBuffers callerBuffers({GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER});
    Program* program = mode == 2 ? m_shader_tri : m_shader;
    program->use();
    program->setUniform("vtxtex", 0);
    program->setUniform("urx", updateRatiox);
    program->setUniform("ury", updateRatioy);
    if (mode != 2) {
        program->setUniform("vtxtex2", 2);
        glActiveTexture(GL_TEXTURE2);
        glBindTexture(GL_TEXTURE_2D, attributeTexID2);
    }
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, attributeTexID);
    bindCircleVertices();
    if (mode == 0) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ivbo);
        glDrawElementsInstanced(GL_LINE_LOOP, kCirclePoints, GL_UNSIGNED_SHORT, nullptr, totalNodes);
    } else {
        // The fan's 43 triangles, not the strip over the same indices: the
        // strip's extra triangles lie inside the circle, and an instance's
        // colour is opaque (picking writes ids and depth), so the pixels agree.
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ivbo_tri);
        glDrawElementsInstanced(GL_TRIANGLES, kTriIndices, GL_UNSIGNED_SHORT, nullptr, totalNodes);
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    program->stopUsing();
}

void CircleDataSets::postRenderVbo(GLuint lookupTex)
{
    m_shader_pick->use();
    m_shader_pick->setUniform("urx", updateRatiox);
    m_shader_pick->setUniform("ury", updateRatioy);
    m_shader_pick->setUniform("vtxtex", 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, attributeTexID);
    m_shader_pick->setUniform("lookupTex", 1);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, lookupTex);
    bindCircleVertices();
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ivbo_tri);
    glDrawElementsInstanced(GL_TRIANGLES, kTriIndices, GL_UNSIGNED_SHORT, nullptr, totalNodes);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glActiveTexture(GL_TEXTURE0);
    m_shader_pick->stopUsing();
}

void CircleDataSets::drawSingleCircle(float x, float y, float sx, float sy, float r, float g, float b,
                                      int mode, float ls)
{
    const qv::SavedBuffers caller({GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER});
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glPushMatrix();
    glPushAttrib(GL_CURRENT_BIT);
    glTranslated(x, y, 0);
    glScalef(sx / 100.0f, sy / 100.0f, 1.0f);
    bindCircleVertices();
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(ls);
    switch (mode) {
    case 0:
    case 2:
        if (mode == 2) {
            glEnable(GL_LINE_STIPPLE);
            glLineStipple(1, 0x00FF);
        } else {
            glDisable(GL_LINE_STIPPLE);
        }
        glColor4f(r, g, b, 0.5f);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ivbo);
        glDrawElements(GL_LINE_LOOP, kCirclePoints, GL_UNSIGNED_SHORT, nullptr);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        glDisable(GL_LINE_STIPPLE);
        break;
    case 1:
        glDisable(GL_LINE_STIPPLE);
        glColor4f(r, g, b, ls);
        // Kept as the strip: with a translucent colour, where its triangles
        // overlap the blend shows, and that is how a single circle looks.
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ivbo_tri);
        glDrawElements(GL_TRIANGLE_STRIP, kTriIndices, GL_UNSIGNED_SHORT, nullptr);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        break;
    default: break;
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glDisable(GL_LINE_SMOOTH);
    glPopAttrib();
    glPopMatrix();
}

void CircleDataSets::updateWindowSize(int w, int h)
{
    updateRatiox = static_cast<float>(w) / static_cast<float>(rx);
    updateRatioy = static_cast<float>(h) / static_cast<float>(ry);
}

void CircleDataSets::setShader(const char* file, const char* filename)
{
    if (file == nullptr || filename == nullptr)
        return;
    char* target = nullptr;
    if (std::strcmp(filename, "vert1") == 0)
        target = m_vertShaderfile;
    else if (std::strcmp(filename, "vert2") == 0)
        target = m_vertShaderfile2;
    else if (std::strcmp(filename, "frag1") == 0)
        target = m_fragShaderfile;
    else if (std::strcmp(filename, "frag2") == 0)
        target = m_fragShaderfile2;
    if (target == nullptr)
        return;
    std::snprintf(target, 512, "%s", file);
}

// ---- Selection ----

bool CircleDataSets::canSelect() const { return !usesFallback() && programsReady; }

int CircleDataSets::colordecoding(float r, float g, float b)
{
    const float R = 255.0f * r;
    const float G = 255.0f * g;
    const float B = 255.0f * b;
    float sum = 256.0f * G + R * 65536.0f;
    sum = sum + B;
    return static_cast<int>(sum);
}

void CircleDataSets::deletePickBuffers()
{
    struct Set {
        GLuint& fb;
        GLuint& tex;
        GLuint& depth;
    };
    for (Set s : {Set{m_frameBuffer_pick, m_renderTexture_pick, m_renderDepth_pick},
                  Set{m_frameBuffer_pick2, m_renderTexture_pick2, m_renderDepth_pick2}}) {
        // The construction marker names nothing GL made; only real names are deleted.
        if (s.fb != 0 && s.fb != kNoName) {
            glDeleteFramebuffers(1, &s.fb);
            glDeleteTextures(1, &s.tex);
            glDeleteRenderbuffers(1, &s.depth);
        }
        s.fb = s.tex = s.depth = kNoName;
    }
}

void CircleDataSets::resetFrameBuffer(int w, int h)
{
    deletePickBuffers();
    makeColourTarget(m_frameBuffer_pick, m_renderTexture_pick, m_renderDepth_pick, GL_RGB32F, w, h);
    makeColourTarget(m_frameBuffer_pick2, m_renderTexture_pick2, m_renderDepth_pick2, GL_RGB32F, w, h);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        printf(" init frame buffer for depth peeling\n");
    else
        printf(" cannot init frame buffer for depth peeling\n");
    fflush(stdout);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void CircleDataSets::setUpPass(GLuint frameBuffer, int x, int y, int w, int h)
{
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glViewport(0, 0, w, h);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(x, x + w, y, y + h, 0, 20);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(0, 0, 1, 0, 0, 0, 0, 1, 0);
}

bool CircleDataSets::readPass(std::vector<float>& readBack, int rw, int rh, std::vector<int>& found)
{
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    const ScopedPackState pack(4);
    glReadPixels(0, 0, rw, rh, GL_RGB, GL_FLOAT, readBack.data());
    std::set<int> slots;
    for (int i = 0; i < rh; ++i) {
        for (int j = 0; j < rw; ++j) {
            const float* c = &readBack[(static_cast<size_t>(i) * rw + j) * 3];
            const int id = colordecoding(c[0], c[1], c[2]);
            if (id > 0)
                slots.insert(id - 1);
        }
    }
    found.assign(slots.begin(), slots.end());
    return !found.empty();
}

void CircleDataSets::closePass(std::vector<int>& found)
{
    if (!found.empty()) {
        hideNode(found.data(), static_cast<int>(found.size()));
        pick_list.insert(pick_list.end(), found.begin(), found.end());
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void CircleDataSets::windowSelection(int x, int y, int w, int h, int rw, int rh)
{
    resetFrameBuffer(w, h);
    std::vector<float> readBack(static_cast<size_t>(rw) * rh * 3);
    std::vector<int> found;
    const GLuint frameBuffers[2] = {m_frameBuffer_pick, m_frameBuffer_pick2};
    const GLuint colourTextures[2] = {m_renderTexture_pick, m_renderTexture_pick2};
    int current = 0;

    setUpPass(frameBuffers[current], x, y, w, h);
    renderVbo(2);
    bool foundSome = readPass(readBack, rw, rh, found);
    closePass(found);
    pick_passes = 1;
    while (foundSome) {
        found.clear();
        current = 1 - current;
        setUpPass(frameBuffers[current], x, y, w, h);
        postRenderVbo(colourTextures[1 - current]);
        foundSome = readPass(readBack, rw, rh, found);
        closePass(found);
        ++pick_passes;
    }
}

void CircleDataSets::selectNodes(int x, int y, int length, int height)
{
    found_list.clear();
    pick_passes = 0;
    if (!canSelect()) {
        debug_trace("selectNodes: selection needs GL above 2.x and createGraphic \n");
        return;
    }
    if (length < 1 || height < 1 || length > (1 << 14) || height > (1 << 14)) {
        debug_trace("selectNodes: window %d x %d refused \n", length, height);
        return;
    }
    const SavedCanvasState saved;
    const qv::SavedFrameBuffers frameBuffers; // restored before the read buffer, which belongs to them
    const qv::SavedProgram program;
    const qv::SavedTextures textures({GL_TEXTURE_2D}, 3); // and the active unit
    const qv::SavedBuffers buffers({GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER});
    pick_x = x;
    pick_y = y;
    pick_w = getPower2(length);
    pick_h = getPower2(height);
    pick_list.clear();
    windowSelection(x, y, pick_w, pick_h, length, height);
    found_list = pick_list;
    updateNode();
    resetNode();
}

int CircleDataSets::pickCircle(int x, int y)
{
    selectNodes(x, y, 200, 200);
    return 0;
}
