#include "gl/TextureManager.h"

#include "boundary/Debug_Trace.h"
#include "gl/GlLoader.h"
#include "gl/ImageFile.h"
#include "gl/PixelStore.h"
#include "gl/SavedBindings.h"
#include "gl/StimulusImage.h"
#include "gl/glTexture.h"

#include <FreeImage.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstring>
#include <memory>

GLenum TexDetail::textureType = GL_TEXTURE_2D;
GLint TexDetail::maxTextureSize = 2048;
unsigned int totalbyte = 0;
std::map<unsigned long, TextureManager*>& TextureManager::m_instance =
    *new std::map<unsigned long, TextureManager*>();

namespace {

bool texDetailStaticsSet = false;

// Past this many KiB of uploads the calling context's cache is emptied.
constexpr unsigned int kBudgetKiB = 200000;
constexpr int kGenAttempts = 4;

using qv::Bitmap;

void DLL_CALLCONV freeImageMessage(FREE_IMAGE_FORMAT fif, const char* message)
{
    debug_trace("FreeImage (%d): %s \n", static_cast<int>(fif), message != nullptr ? message : "");
}

void routeFreeImageMessages()
{
    static bool done = false;
    if (!done) {
        FreeImage_SetOutputMessage(freeImageMessage);
        done = true;
    }
}

GLint glMaxTextureSize()
{
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    return size;
}

// 0 when GL has no format for the depth.
GLenum pixelFormatOf(FIBITMAP* dib)
{
    const unsigned bpp = FreeImage_GetBPP(dib);
    const bool redLow = (FreeImage_GetRedMask(dib) & 1u) != 0;
    if (bpp == 24)
        return redLow ? GL_RGB : GL_BGR;
    if (bpp == 32) {
        if (redLow) {
            debug_trace("get red mask \n");
            return GL_RGBA;
        }
        return GL_BGRA;
    }
    if (bpp == 8)
        return GL_LUMINANCE;
    return 0;
}

// The whole decode: the file checked and its header bounded, then the pixels.
Bitmap decodeImage(const char* filename, FREE_IMAGE_FORMAT& fif)
{
    fif = FIF_UNKNOWN;
    FilePtr file = openRegularFile("LoadTexture", filename);
    if (!file)
        return nullptr;
    qv::StimulusLimits limits;
    const GLint maxSide = glMaxTextureSize();
    limits.maxSide = maxSide > 0 ? static_cast<uint32_t>(maxSide) : 1;
    return qv::decodeStimulus(file.get(), fileSizeOf(file.get()), filename, limits, fif);
}

void drawQuad(const TexDetail& tex, float x, float y, float w, float h, bool white)
{
    if (w == 0)
        w = static_cast<float>(tex.width);
    if (h == 0)
        h = static_cast<float>(tex.height);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, tex.id);
    glBegin(GL_QUADS);
    if (white)
        glColor3f(1.0f, 1.0f, 1.0f);
    glTexCoord2f(0.0f, 0.0f);
    glVertex3f(x, y + h, -1.0f);
    glTexCoord2f(tex.tx, 0.0f);
    glVertex3f(x + w, y + h, -1.0f);
    glTexCoord2f(tex.tx, tex.ty);
    glVertex3f(x + w, y, -1.0f);
    glTexCoord2f(0.0f, tex.ty);
    glVertex3f(x, y, -1.0f);
    glEnd();
    glDisable(GL_TEXTURE_2D);
}

} // namespace

TexDetail::TexDetail() : id(0), width(0), height(0), tx(0.0f), ty(0.0f)
{
    if (texDetailStaticsSet)
        return;
    texDetailStaticsSet = true;
    textureType = GL_TEXTURE_2D;
    GLint size = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &size);
    maxTextureSize = (size > 10000 || size < 100) ? 2048 : size;
}

TextureManager* TextureManager::getInstance()
{
    const void* context = qv::currentGlContext();
    if (context == nullptr) {
        debug_trace(" TextureManager: no current GL context \n");
        return nullptr;
    }
    const unsigned long key = reinterpret_cast<unsigned long>(context);
    auto it = m_instance.find(key);
    if (it == m_instance.end()) {
        puts(" create one TextureManager instance ");
        fflush(nullptr);
        it = m_instance.emplace(key, new TextureManager()).first;
    }
    return it->second;
}

TextureManager::TextureManager() : background_color(-1)
{
    texture_name[0] = '\0';
    routeFreeImageMessages();
}

TextureManager::~TextureManager()
{
    UnloadAllTextures();
    clearLargeTexture();
}

TexDetail* TextureManager::LoadTexture(const char* filename, bool update)
{
    if (filename == nullptr || filename[0] == '\0') {
        debug_trace("LoadTexture: no file name \n");
        return nullptr;
    }
    auto cached = m_texID.find(filename);
    if (update && cached != m_texID.end()) {
        UnloadTexture(cached->second.id);
        m_texID.erase(cached);
        printf(" LoadTexture : find flle %s \n", filename);
        fflush(nullptr);
        cached = m_texID.end();
    }
    if (cached != m_texID.end())
        return &cached->second;

    if (totalbyte / 1024 > kBudgetKiB) {
        onlyUnloadTextures();
        debug_trace("more than 200 mb vram when load texture , delete all textures \n");
    }
    printf(" find texture name as %s \n", filename);
    fflush(nullptr);

    FREE_IMAGE_FORMAT fif = FIF_UNKNOWN;
    Bitmap dib = decodeImage(filename, fif);
    if (!dib)
        return nullptr;
    const int width = static_cast<int>(FreeImage_GetWidth(dib.get()));
    const int height = static_cast<int>(FreeImage_GetHeight(dib.get()));
    const unsigned bpp = FreeImage_GetBPP(dib.get());
    const GLenum format = pixelFormatOf(dib.get());
    BYTE* bits = FreeImage_GetBits(dib.get());
    if (bits == nullptr || width == 0 || height == 0) {
        debug_trace("LoadTexture: %s has no pixels \n", filename);
        return nullptr;
    }
    if (format == 0) {
        debug_trace("LoadTexture: no pixel format for %u bits in %s \n", bpp, filename);
        return nullptr;
    }

    TexDetail entry;
    for (int attempt = 0; attempt < kGenAttempts; ++attempt) {
        glGenTextures(1, &entry.id);
        if (glGetError() != GL_OUT_OF_MEMORY)
            break;
        onlyUnloadTextures();
        debug_trace(" get out of memory when generate texture id , delete all textures \n");
        entry.id = 0;
    }
    {
        // FreeImage rows start on 4-byte boundaries.
        ScopedUnpackState unpack(4);
        qv::SavedTexture caller(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, entry.id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, format, GL_UNSIGNED_BYTE, bits);
    }
    entry.width = width;
    entry.height = height;
    entry.tx = 1.0f;
    entry.ty = 1.0f;
    totalbyte += static_cast<unsigned int>(width) * static_cast<unsigned int>(height) * (bpp / 8);

    const GLenum error = glGetError();
    if (error != GL_NO_ERROR && error != GL_INVALID_ENUM) {
        if (entry.id != 0)
            glDeleteTextures(1, &entry.id);
        onlyUnloadTextures();
        debug_trace(" get out of memory when load texture , delete all textures %s \n",
                    reinterpret_cast<const char*>(gluErrorString(error)));
        return nullptr;
    }
    debug_trace("get total byte %d \n", static_cast<int>(totalbyte));
    auto inserted = m_texID.insert_or_assign(filename, entry).first;
    return &inserted->second;
}

int TextureManager::getTexture(char* ss)
{
    TexDetail* tex = LoadTexture(ss, false);
    return tex != nullptr ? static_cast<int>(tex->id) : 0;
}

void TextureManager::drawPlainTexture(const char* ss, float x, float y, float w, float h, bool update)
{
    TexDetail* tex = LoadTexture(ss, update);
    if (tex != nullptr && tex->id != 0)
        drawQuad(*tex, x, y, w, h, true);
}

void TextureManager::drawTexture(char* ss, float x, float y, float w, float h)
{
    glPushAttrib(GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    TexDetail* tex = LoadTexture(ss, false);
    if (tex != nullptr && tex->id != 0)
        drawQuad(*tex, x, y, w, h, false);
    glDisable(GL_BLEND);
    glPopAttrib();
}

bool TextureManager::UnloadTexture(const unsigned int texID)
{
    glDeleteTextures(1, &texID);
    glFlush();
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
        printf("Error() %s:%d %d\nGL_INVALID_ENUM=%d\nGL_INVALID_VALUE=%d\nGL_INVALID_OPERATION=%d\n"
               "GL_STACK_OVERFLOW=%d\nGL_STACK_UNDERFLOW=%d\nGL_OUT_OF_MEMORY=%d\n",
               __FILE__, __LINE__, static_cast<int>(error), GL_INVALID_ENUM, GL_INVALID_VALUE,
               GL_INVALID_OPERATION, GL_STACK_OVERFLOW, GL_STACK_UNDERFLOW, GL_OUT_OF_MEMORY);
        fflush(nullptr);
    }
    return true;
}

void TextureManager::onlyUnloadTextures()
{
    for (const auto& entry : m_texID) {
        debug_trace(" delete texture %s ", entry.first.c_str());
        UnloadTexture(entry.second.id);
    }
    m_texID.clear();
    totalbyte = 0;
}

void TextureManager::UnloadAllTextures() { onlyUnloadTextures(); }

void TextureManager::loadLargeTexture(char* name, int x, int y, int w, int h)
{
    for (const txTexture* tex : mega_texture_list)
        if (strcmp(tex->file_name, name) == 0)
            return;
    auto tex = std::make_unique<txTexture>();
    tex->loadFromImage(name, x, y, w, h);
    mega_texture_list.push_back(tex.release());
}

void TextureManager::drawWebPageTexture(const char* name, float x, float y, float w, float h)
{
    if (name == nullptr || name[0] == '\0') {
        debug_trace("DrawWebPageTexture: no file name \n");
        return;
    }
    // A name must fit both the last-name buffer and a tiled image's own.
    if (strlen(name) >= sizeof(txTexture::file_name)) {
        debug_trace("DrawWebPageTexture: file name of %zu bytes is too long \n", strlen(name));
        return;
    }
    const int ix = static_cast<int>(x), iy = static_cast<int>(y);
    const int iw = static_cast<int>(w), ih = static_cast<int>(h);
    if (texture_name[0] == '\0' || strcmp(texture_name, name) != 0) {
        std::string copy(name);
        loadLargeTexture(copy.data(), ix, iy, iw, ih);
        snprintf(texture_name, sizeof texture_name, "%s", name);
    }
    for (txTexture* tex : mega_texture_list)
        tex->render(ix, iy, iw, ih);
}

void TextureManager::clearLargeTexture()
{
    for (txTexture* tex : mega_texture_list)
        delete tex;
    mega_texture_list.clear();
    texture_name[0] = '\0';
}

void TextureManager::saveImage(int w, int h, void* ptr, std::string filename)
{
    if (ptr == nullptr || w <= 0 || h <= 0 || filename.empty()) {
        debug_trace("saveImage: nothing to save \n");
        return;
    }
    // Probing the contents of a FIFO or device would block or read junk.
    if (existsAsNonRegular(filename.c_str())) {
        debug_trace("saveImage: %s is not a regular file \n", filename.c_str());
        return;
    }
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(filename.c_str(), 0);
    if (fif == FIF_UNKNOWN)
        fif = FreeImage_GetFIFFromFilename(filename.c_str());
    if (fif == FIF_UNKNOWN)
        return;
    debug_trace(" finish save images %s \n", filename.c_str());
    Bitmap raw(FreeImage_ConvertFromRawBitsEx(FALSE, static_cast<BYTE*>(ptr), FIT_BITMAP, w, h, w * 4, 32,
                                              0xFF0000, 0x00FF00, 0x0000FF, FALSE));
    if (!raw) {
        debug_trace("saveImage: cannot wrap %d x %d pixels \n", w, h);
        return;
    }
    Bitmap rgb(FreeImage_ConvertTo24Bits(raw.get()));
    if (!rgb || !FreeImage_Save(fif, rgb.get(), filename.c_str(), 0))
        debug_trace("saveImage: failed to save %s \n", filename.c_str());
}

int TextureManager::getPower2(int num) { return ::getPower2(num); }
