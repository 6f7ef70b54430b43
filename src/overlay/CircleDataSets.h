// Fixation circles: nodes in two class-wide tables, drawn by one instanced
// call of a 45-point unit circle, and selected on the GPU by colour picking
// with depth peeling. Falls back to fixed-function drawing on GL 2.x.
#pragma once

#include "gl/Program.h"
#include "overlay/DataSets.h"

#include <GL/glew.h>

#include <string>
#include <vector>

// The three programs' sources; the class carries its own, tests may pass others.
struct CircleShaderSources {
    std::string displayVertex;
    std::string pickVertex;
    std::string plainFragment;
    std::string lookupFragment;
};

class CircleDataSets {
public:
    static constexpr int kTexSize = 1024;
    static constexpr int kCapacity = kTexSize * kTexSize;
    static constexpr int kCirclePoints = 45;
    static constexpr int kTriIndices = (kCirclePoints - 2) * 3;
    static constexpr GLuint kNoName = 0xFFFFFFFF;

    // Allocates the node tables and builds the template at load; frees them at unload.
    struct static_init {
        static_init();
        ~static_init();
    };

    // Class-wide node tables: four floats (x / rx, y / ry, size / 1024, shown) and
    // three colour bytes per slot; slot s is texel (s mod 1024, s div 1024).
    static float* attributeTex;
    static unsigned char* attributeTex2;
    static DataNodes* testNode;
    static GLushort vbo_index[kCirclePoints];
    static GLushort vbo_tri_index[kTriIndices];
    static static_init m_static_init;

    static const CircleShaderSources& embeddedSources();

    CircleDataSets();
    CircleDataSets(int w, int h);
    ~CircleDataSets();
    CircleDataSets(const CircleDataSets&) = delete;
    CircleDataSets& operator=(const CircleDataSets&) = delete;

    void addCircleNode(float x, float y, float size, float r, float g, float b);
    void addCircleNode(int index, float x, float y, float size, float r, float g, float b);
    void updateNode(int id, float x, float y, float size, float r, float g, float b);
    void hideNode(int* list, int size);
    void hideNode();
    void resetNode();
    void updateNode();
    void clearNodes() { totalNodes = 0; }

    void createVbo();
    void createVbo(const CircleShaderSources& sources);
    void renderVbo(int mode);
    void postRenderVbo(GLuint lookupTex);
    void drawSingleCircle(float x, float y, float sx, float sy, float r, float g, float b, int mode,
                          float ls);
    void updateWindowSize(int w, int h);
    void setShader(const char* file, const char* filename);
    int getPower2(int num);
    GLuint createVBO(const void* data, int dataSize, GLenum target, GLenum usage);
    void init();
    static void createCircle();

    // Selection.
    int colordecoding(float r, float g, float b);
    void windowSelection(int x, int y, int w, int h, int rw, int rh);
    void resetFrameBuffer(int w, int h);
    void selectNodes(int x, int y, int length, int height);
    int pickCircle(int x, int y);

    // True when selection can run: GL above 2.x and the programs built.
    bool canSelect() const;
    // True when drawing goes through the fixed-function fallback.
    bool usesFallback() const { return version <= 2 || programFailed; }

    Program* m_shader = nullptr;
    Program* m_shader_pick = nullptr;
    Program* m_shader_tri = nullptr;
    char m_vertShaderfile[512] = {0};
    char m_fragShaderfile[512] = {0};
    char m_vertShaderfile2[512] = {0};
    char m_fragShaderfile2[512] = {0};
    GLuint tvao = kNoName, tvbo = kNoName;
    GLuint pvbo = kNoName;
    GLuint ivbo = kNoName;
    GLuint ivbo_tri = kNoName;
    int totalNodes = 0;
    int version = 0;
    GLuint circleVBO = 0;
    GLuint attributeTexID = 0, attributeTexID2 = 0;
    GLuint m_frameBuffer2 = 0, m_renderTexture2 = 0, m_renderDepth2 = 0;
    GLuint m_frameBuffer_pick = kNoName, m_renderTexture_pick = kNoName, m_renderDepth_pick = kNoName;
    GLuint m_frameBuffer_pick2 = kNoName, m_renderTexture_pick2 = kNoName, m_renderDepth_pick2 = kNoName;
    std::vector<int> pick_list;
    int pick_x = 0, pick_y = 0, pick_w = 0, pick_h = 0;
    float updateRatiox = 1.0f, updateRatioy = 1.0f;
    int rx = 0, ry = 0;

    // Slots found by the last selectNodes, in the order the passes found them,
    // and how many passes it took.
    std::vector<int> found_list;
    int pick_passes = 0;
    // The programs and node textures of createVbo exist.
    bool programsReady = false;
    // The loading routine failed: draw through the fallback.
    bool programFailed = false;

private:
    static bool validSlot(const char* what, int slot);
    void writeSlot(int slot, float x, float y, float size);
    void uploadAttributes();
    void uploadColours();
    void releasePrograms();
    void bindCircleVertices();
    bool readPass(std::vector<float>& readBack, int rw, int rh, std::vector<int>& found);
    void closePass(std::vector<int>& found);
    void setUpPass(GLuint frameBuffer, int x, int y, int w, int h);
    void deletePickBuffers();
};
