// Stimulus images as GL textures: one cache per GLX context, keyed by file
// name, evicted as a whole when the uploaded bytes pass the budget.
#pragma once

#include <GL/glew.h>

#include <map>
#include <string>
#include <vector>

class txTexture;

// One cache entry; a plain value copied in and out of the cache.
struct TexDetail {
    TexDetail();

    GLuint id;
    int width;
    int height;
    float tx;
    float ty;

    // Set by the first entry ever made.
    static GLenum textureType;
    static GLint maxTextureSize;
};

// Bytes uploaded through LoadTexture since the last eviction (all contexts).
extern unsigned int totalbyte;

class TextureManager {
public:
    // The manager of the current GLX context, made on first use.
    static TextureManager* getInstance();

    TextureManager();
    ~TextureManager();
    TextureManager(const TextureManager&) = delete;
    TextureManager& operator=(const TextureManager&) = delete;

    // The cache entry for `filename`, loaded first where needed; null when the
    // file cannot be loaded. Valid until the entry is erased.
    TexDetail* LoadTexture(const char* filename, bool update);
    int getTexture(char* ss);
    // The image blended over the canvas, modulated by the current colour.
    void drawTexture(char* ss, float x, float y, float w, float h);
    // The image as an opaque white quad; `update` reloads the file first.
    void drawPlainTexture(const char* ss, float x, float y, float w, float h, bool update);
    bool UnloadTexture(const unsigned int texID);
    void onlyUnloadTextures();
    void UnloadAllTextures();

    void loadLargeTexture(char* name, int x, int y, int w, int h);
    void drawWebPageTexture(const char* name, float x, float y, float w, float h);
    void clearLargeTexture();

    void saveImage(int w, int h, void* ptr, std::string filename);
    int getPower2(int num);

    int background_color;
    std::vector<txTexture*> mega_texture_list;
    char texture_name[2048];
    std::map<std::string, TexDetail> m_texID;
    std::map<std::string, unsigned int> m_texForSpecial;

    // Managers live as long as the process; the map is never destroyed either,
    // so they stay reachable after static destructors have run.
    static std::map<unsigned long, TextureManager*>& m_instance;
};
