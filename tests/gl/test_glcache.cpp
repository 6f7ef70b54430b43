// Read-back of the view through the pixel-pack buffer and saving it.
// Saved pixels are compared exactly (tolerance 0) with GL's own read-back.
#include "gl/GLCache.h"
#include "gl/ImageFixture.h"

#include <sys/stat.h>

#include <vector>

using qvtest::Rgba;

class GLCacheTest : public qvtest::ImageTest {
protected:
    // A 1024 x 768 drawable current for one test; the fixture's context is
    // made current again once it is gone.
    struct BigView {
        explicit BigView(GLCacheTest& t) : test(t), context(new qvtest::GlContext(1024, 768))
        {
            EXPECT_TRUE(context->ok()) << context->error();
            context->makeCurrent();
        }
        ~BigView()
        {
            delete context;
            test.gl().makeCurrent();
        }
        GLCacheTest& test;
        qvtest::GlContext* context;
    };

    // A view of w x h in a larger drawable, with the canvas projection.
    void view(int w, int h)
    {
        glViewport(0, 0, w, h);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, w, h, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }
    void drawScene()
    {
        glClearColor(0.2f, 0.2f, 0.2f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glBegin(GL_QUADS);
        glColor3f(1, 0, 0);
        glVertex2f(0, 0), glVertex2f(200, 0), glVertex2f(200, 100), glVertex2f(0, 100);
        glColor3f(0, 0, 1);
        glVertex2f(600, 500), glVertex2f(800, 500), glVertex2f(800, 600), glVertex2f(600, 600);
        glColor3f(0.5f, 1, 0.25f);
        glVertex2f(300, 250), glVertex2f(420, 250), glVertex2f(420, 330), glVertex2f(300, 330);
        glEnd();
    }
    GLint bufferSize(GLuint buffer)
    {
        GLint size = -1;
        glBindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
        glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_SIZE, &size);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        return size;
    }
    FIBITMAP* load(const std::string& p) { return FreeImage_Load(FreeImage_GetFIFFromFilename(p.c_str()), p.c_str(), 0); }
};

TEST_F(GLCacheTest, SavesTheViewUprightPixelForPixel)
{
    BigView big(*this);
    view(800, 600);
    drawScene();
    GLCache cache;
    const std::string p = path("view.png");
    EXPECT_EQ(cache.saveAsImage(p), 1);
    EXPECT_EQ(cache.vw, 800);
    EXPECT_EQ(cache.vh, 600);
    ASSERT_NE(cache.m_frameBuffer, 0u);
    EXPECT_EQ(bufferSize(cache.m_frameBuffer), 1024 * 1024 * 4);

    std::vector<unsigned char> pixels(800 * 600 * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    FIBITMAP* saved = load(p);
    ASSERT_NE(saved, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(saved), 800u);
    EXPECT_EQ(FreeImage_GetHeight(saved), 600u);
    EXPECT_EQ(FreeImage_GetBPP(saved), 24u);
    int mismatches = 0;
    for (int row = 0; row < 600; ++row) { // both bottom-up
        const BYTE* line = FreeImage_GetScanLine(saved, row);
        for (int x = 0; x < 800; ++x) {
            const unsigned char* g = &pixels[(row * 800 + x) * 4];
            const BYTE* s = line + x * 3;
            if (s[FI_RGBA_RED] != g[0] || s[FI_RGBA_GREEN] != g[1] || s[FI_RGBA_BLUE] != g[2])
                ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
    // Upright: the red block is at the top left of the file's picture.
    RGBQUAD c;
    ASSERT_TRUE(FreeImage_GetPixelColor(saved, 10, 599 - 10, &c));
    EXPECT_EQ((Rgba{c.rgbRed, c.rgbGreen, c.rgbBlue, 255}).r, 255);
    EXPECT_EQ(c.rgbBlue, 0);
    ASSERT_TRUE(FreeImage_GetPixelColor(saved, 790, 599 - 590, &c));
    EXPECT_EQ(c.rgbBlue, 255);
    EXPECT_EQ(c.rgbRed, 0);
    FreeImage_Unload(saved);
}

TEST_F(GLCacheTest, BufferIsRemadeOnlyWhenBothSidesChange)
{
    BigView big(*this);
    GLCache cache;
    view(800, 600);
    drawScene();
    cache.saveAsImage(path("a.png"));
    view(1000, 600);
    qvtest::clearSyslog();
    cache.saveAsImage(path("b.png"));
    EXPECT_EQ(cache.vw, 800);
    EXPECT_EQ(cache.vh, 600);
    EXPECT_FALSE(qvtest::syslogContains(" try to init frame buffer"));
    FIBITMAP* b = load(path("b.png"));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(b), 800u);
    EXPECT_EQ(FreeImage_GetHeight(b), 600u);
    FreeImage_Unload(b);

    view(1000, 700);
    cache.saveAsImage(path("c.bmp"));
    EXPECT_TRUE(qvtest::syslogContains(" try to init frame buffer 1024 1024 "));
    EXPECT_EQ(cache.vw, 1000);
    EXPECT_EQ(cache.vh, 700);
    FIBITMAP* c = load(path("c.bmp"));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(FreeImage_GetWidth(c), 1000u);
    EXPECT_EQ(FreeImage_GetHeight(c), 700u);
    FreeImage_Unload(c);
}

TEST_F(GLCacheTest, NamesThatCannotBeSavedSaveNothing)
{
    GLCache cache;
    EXPECT_EQ(cache.getTexture(), 0);
    cache.beginCache();
    cache.endCache();
    EXPECT_EQ(cache.saveAsImage(""), 1);
    EXPECT_EQ(cache.saveAsImage(path("noextension")), 1);
    struct stat st;
    EXPECT_NE(stat(path("noextension").c_str(), &st), 0);
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(cache.saveAsImage(path("pipe.png")), 1); // must not block on the FIFO
    ASSERT_EQ(mkdir(path("dir.png").c_str(), 0700), 0);
    EXPECT_EQ(cache.saveAsImage(path("dir.png")), 1);
    EXPECT_EQ(cache.saveAsImage(path("no/such/dir/x.png")), 1);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
