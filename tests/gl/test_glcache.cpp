// Read-back of the view through the pixel-pack buffer and saving it; saved
// pixels are compared exactly (tolerance 0) with GL's own read-back.
#include "gl/GLCache.h"
#include "gl/ImageFixture.h"

#include <sys/stat.h>

#include <vector>

using namespace qvtest;

class GLCacheTest : public ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        big_ = std::make_unique<GlContext>(1024, 768);
        ASSERT_TRUE(big_->ok()) << big_->error();
        big_->makeCurrent();
    }
    void TearDown() override
    {
        big_.reset(); // leaves no context current: the fixture's comes back
        gl().makeCurrent();
        ImageTest::TearDown();
    }
    // A view of w x h in the larger drawable, with the canvas projection, and three blocks drawn.
    void view(int w, int h)
    {
        qvtest::canvasProjection(w, h);
        glClearColor(0.2f, 0.2f, 0.2f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        const float blocks[3][7] = {
            {0, 0, 200, 100, 1, 0, 0}, {600, 500, 800, 600, 0, 0, 1}, {300, 250, 420, 330, 0.5f, 1, 0.25f}};
        for (const auto& b : blocks) {
            glColor3f(b[4], b[5], b[6]);
            glRectf(b[0], b[1], b[2], b[3]);
        }
    }
    // How many of the saved file's pixels differ from GL's read-back.
    int mismatches(const std::string& p, int w, int h)
    {
        const Picture saved = readImage(p);
        if (saved.width != w || saved.height != h || saved.bpp != 24) {
            ADD_FAILURE() << p << " missing or of the wrong size";
            return -1;
        }
        const std::vector<uint8_t> pixels = readCanvas(w, h); // bottom row first
        int n = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                n +=
                    !std::equal(saved.at(x, y), saved.at(x, y) + 3, &pixels[(size_t(h - 1 - y) * w + x) * 4]);
        // Upright: red at the top left of the file's picture.
        EXPECT_TRUE(saved.at(10, 10)[0] == 255 && saved.at(10, 10)[2] == 0);
        return n;
    }
    std::unique_ptr<GlContext> big_;
};

// The pack buffer is made for the power-of-two cover of the view, and remade
// (the old one deleted) only when both sides change.
TEST_F(GLCacheTest, SavesTheViewUprightPixelForPixelAndRemakesItsBufferOnlyWhenBothSidesChange)
{
    const int before = liveGlObjects();
    {
        GLCache cache;
        view(800, 600);
        EXPECT_EQ(cache.saveAsImage(path("a.png")), 1);
        GLint size = -1; // stays -1 without a buffer
        glBindBuffer(GL_PIXEL_PACK_BUFFER, cache.m_frameBuffer);
        glGetBufferParameteriv(GL_PIXEL_PACK_BUFFER, GL_BUFFER_SIZE, &size);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
        EXPECT_EQ(size, 1024 * 1024 * 4);
        EXPECT_EQ(mismatches(path("a.png"), 800, 600), 0);
        view(1000, 600);
        clearSyslog();
        cache.saveAsImage(path("b.png"));
        EXPECT_FALSE(syslogContains(" try to init frame buffer"));
        EXPECT_EQ(mismatches(path("b.png"), 800, 600), 0);
        view(1000, 700);
        cache.saveAsImage(path("c.bmp"));
        EXPECT_TRUE(syslogContains(" try to init frame buffer 1024 1024 "));
        EXPECT_EQ(mismatches(path("c.bmp"), 1000, 700), 0);
    }
    EXPECT_EQ(liveGlObjects(), before);
}

TEST_F(GLCacheTest, NamesThatCannotBeSavedSaveNothing)
{
    GLCache cache;
    ASSERT_EQ(mkfifo(path("pipe.png").c_str(), 0600), 0); // must not block on the FIFO
    ASSERT_EQ(mkdir(path("dir.png").c_str(), 0700), 0);
    for (const std::string& name :
         {std::string(), path("noextension"), path("pipe.png"), path("dir.png"), path("no/such/dir/x.png")})
        EXPECT_EQ(cache.saveAsImage(name), 1) << name;
    struct stat st;
    EXPECT_NE(stat(path("noextension").c_str(), &st), 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}
