// The GL state every export that touches GL leaves behind, in one table. Each row starts from a caller
// state nowhere GL's default (qvtest::CallerState) and lists exactly the fields its drawing may leave
// changed ("" for none): a leak, or a reset of the caller's state to a default, is a field not listed.
#include "boundary/HandleRegistry.h"
#include "gl/GLCache.h"
#include "gl/ImageFixture.h"
#include "gl/TextureManager.h"
#include "heatmap/HeatmapScene.h"
#include "overlay/CircleDataSets.h"
#include "overlay/GLPolygon.h"
#include "overlay/QX_FTFont.h"
#include "video/VideoRes.h"
#include "video/Videoplay.h"

#include "quorvex_viewer_AnimationView_VideoClip.h"
#include "quorvex_viewer_OverlayView_GLCacheDrawing.h"
#include "quorvex_viewer_OverlayView_GLCircle.h"
#include "quorvex_viewer_OverlayView_GLDirectBuffer.h"
#include "quorvex_viewer_OverlayView_GLFont.h"
#include "quorvex_viewer_OverlayView_GLImage.h"

#include <jni.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using qvtest::GlState;

// Exports accept only handles the registry knows, as if a creating export had made them.
const auto handle = [](auto* object) { return qv::registerHandle(object); };

// An export called as the rows call it: no JNI environment, no class.
template <class F, class... A>
auto jni(F exported, A... args)
{
    return exported(nullptr, nullptr, args...);
}

// The images the rows load: a small one and a tall one (a band of the web-page path).
class DrawState : public qvtest::ImageTest {
protected:
    void SetUp() override
    {
        ImageTest::SetUp();
        ASSERT_TRUE(qvtest::writeImage(path("image.png"), FIF_PNG, 16, 8, 24, qvtest::solid(qvtest::kRed)) &&
                    qvtest::writeImage(path("tall.png"), FIF_PNG, 12, 20, 24, qvtest::solid(qvtest::kRed)));
    }
};

struct Row {
    const char* call;
    std::function<void()> run;
    const char* leaves;
    std::function<void()> setup = {}; // after the caller's state is applied
    bool window = false;              // the call reads the window's pixels: no caller frame buffer
};

TEST_F(DrawState, EveryExportLeavesOnlyItsDocumentedState)
{
    TextureManager& images = manager();
    std::string name = path("image.png"), tallName = path("tall.png");

    jlong circles = 0, heatmap = 0, cache = 0;
    std::unique_ptr<QX_FTFont> font;
    const float xs[] = {10, 100, 10, 60}, ys[] = {10, 10, 100, 30}; // self-intersecting fill
    std::vector<unsigned char> frame(720 * 480 * 4, 0xff);
    VideoRes clip;
    VideoRes* released = new VideoRes();
    const auto textsOn = [] { // what the text draw turns off
        for (GLenum array : {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_TEXTURE_COORD_ARRAY})
            glEnableClientState(array);
        glEnable(GL_TEXTURE_RECTANGLE);
    };
    // A single circle through one of its exports; `more` follows its colour.
    const char* kSingleCircle = "line smooth, vertex array, line width";
    const auto single = [&circles](auto exported, auto... more) {
        return [&circles, exported, more...] { jni(exported, circles, 50, 50, 5, 5, 1, 0, 0, more...); };
    };
    const char* kPlainQuad = "depth test, texture 2d unit 1, texture 2d parameters, current colour";
    const Row rows[] = {
        {"GetTexture", [&] { EXPECT_NE(images.getTexture(name.data()), 0); }, ""},
        {"DrawTexture", [&] { images.drawPlainTexture(name.data(), 5, 5, 0, 0, false); }, kPlainQuad},
        {"DrawTextureWithUpdate", [&] { images.drawPlainTexture(name.data(), 5, 5, 20, 20, true); },
         kPlainQuad},
        {"DrawBlendTexture", [&] { images.drawTexture(name.data(), 5, 5, 20, 20); }, "depth test"},
        {"DrawWebPageTexture", [&] { images.drawWebPageTexture(tallName.data(), 0, 0, 12, 20); },
         "texture rect unit 1"},
        {"ReleaseAllTexture", [] { jni(Java_quorvex_viewer_OverlayView_GLImage_ReleaseAllTexture); }, ""},
        {"clearLargeTexture", [] { jni(Java_quorvex_viewer_OverlayView_GLImage_clearLargeTexture); }, ""},
        // The drawing cache reads the window back.
        {"intGLCache", [&] { cache = jni(Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache); }, ""},
        {"saveBuffer",
         [&] {
             GLCache& c = *reinterpret_cast<GLCache*>(cache);
             EXPECT_EQ(c.saveAsImage(path("view.png")), 1);
             EXPECT_NE(c.m_frameBuffer, 0u);
         },
         "",
         {},
         true},
        {"intGLCirlce",
         [&] { circles = jni(Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce, 256, 256); }, ""},
        {"createGraphic", [&] { jni(Java_quorvex_viewer_OverlayView_GLCircle_createGraphic, circles); }, "",
         [&] { reinterpret_cast<CircleDataSets*>(circles)->addCircleNode(100, 100, 10, 1, 0, 0); }},
        {"fillSingleCircle 7", single(Java_quorvex_viewer_OverlayView_GLCircle_fillSingleCircle__JFFFFFFF),
         kSingleCircle},
        {"fillSingleCircle 8",
         single(Java_quorvex_viewer_OverlayView_GLCircle_fillSingleCircle__JFFFFFFFF, 0.5f), kSingleCircle},
        {"drawSingleCircle outline", single(Java_quorvex_viewer_OverlayView_GLCircle_drawSingleCircle, 3, 0),
         kSingleCircle},
        {"drawSingleCircle dashed", single(Java_quorvex_viewer_OverlayView_GLCircle_drawSingleCircle, 3, 2),
         kSingleCircle},
        {"drawSingleCircle mode 3", single(Java_quorvex_viewer_OverlayView_GLCircle_drawSingleCircle, 3, 3),
         kSingleCircle},
        {"drawCircle", [&] { jni(Java_quorvex_viewer_OverlayView_GLCircle_drawCircle, circles); },
         "vertex array"},
        {"selectCircle",
         [&] {
             CircleDataSets& c = *reinterpret_cast<CircleDataSets*>(circles);
             c.selectNodes(98, 98, 4, 4);
             EXPECT_EQ(c.found_list, std::vector<int>{0});
         },
         ""},
        {"intGLFont",
         [&] {
             font.reset(new QX_FTFont(const_cast<char*>("NoSuchFont.ttf"), 20));
             std::snprintf(font->fontfile, sizeof font->fontfile,
                           "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
             EXPECT_EQ(font->init(), 1);
         },
         ""},
        {"setFontSizes",
         [&] { jni(Java_quorvex_viewer_OverlayView_GLFont_setFontSizes, handle(font.get()), 24); }, ""},
        {"drawText", [&] { font->drawFont(10, 30, const_cast<char*>("Ab\xc3\xa9"), 0, 1, 0, 0); },
         "blend, depth test, texture 2d on, texture rect on, vertex array, colour array, tex coord array, blend func, "
         "texture 2d unit 1, texture 2d parameters",
         textsOn},
        {"drawText empty, null, no font",
         [&] {
             font->drawFont(10, 30, const_cast<char*>(""), 0, 1, 0, 0);
             font->drawFont(10, 30, nullptr, 0, 1, 0, 0);
             QX_FTFont(const_cast<char*>("x.ttf"), 20).drawFont(10, 30, const_cast<char*>("II"), 0, 1, 0, 0);
         },
         "", textsOn},
        // Polygons: vertices only (inside the caller's primitive) and the tessellator's own primitives.
        {"drawPolygonGLF",
         [&] {
             glBegin(GL_LINES);
             drawPolygonOutline(xs, ys, 4);
             glEnd();
         },
         ""},
        {"fillPolygonGLF", [&] { EXPECT_TRUE(fillPolygon(xs, ys, 4)); }, ""},
        {"iniHeatmapBuffer",
         [&] { heatmap = jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n, 0, 0); },
         ""},
        {"drawHeatmapBuffer",
         [&] { jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n, heatmap); },
         "blend, blend func, blend equation",
         [&] {
             jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n, heatmap, 200, 30, 40,
                 256, 256);
         }},
        {"deleteHeatmap",
         [&] { jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n, heatmap); }, ""},
        // Video: the upload behind loadNextFrame and the draw restore even the current colour.
        {"loadNextFrame upload",
         [&] {
             EXPECT_GT(createTextures(720, 480, frame.data(), 4, &clip), 0);
             updates(360, 240, frame.data(), 4, &clip);
             createTextures(720, 480, frame.data(), 4, released);
         },
         ""},
        {"drawVideoTexture",
         [&] {
             jni(Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture, handle(&clip), 0, 0, 64, 64, 0,
                 0, 720, 480);
         },
         ""},
        {"release", [&] { jni(Java_quorvex_viewer_AnimationView_VideoClip_release, handle(released)); }, ""},
    };
    qvtest::CallerState caller;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.call);
        caller.apply(!row.window);
        if (row.setup)
            row.setup();
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
        const GlState before = GlState::capture();
        row.run();
        EXPECT_EQ(GlState::capture().changedFrom(before), row.leaves);
        EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }

    // The sampling the library's own textures are made with: filters and wraps of level 0.
    using Sampling = std::vector<GLint>; // min and mag filter, wrap s and t
    const Sampling linear = {GL_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT};
    const Sampling clamped = {GL_NEAREST, GL_NEAREST, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE};
    const Sampling glDefault = {GL_NEAREST_MIPMAP_LINEAR, GL_LINEAR, GL_REPEAT, GL_REPEAT};
    const CircleDataSets& set = *reinterpret_cast<CircleDataSets*>(circles);
    const std::tuple<const char*, GLuint, Sampling> textures[] = {
        {"stimulus image", GLuint(images.getTexture(name.data())), linear},
        {"circle node table", set.attributeTexID, clamped},
        {"circle colour table", set.attributeTexID2, clamped},
        {"video clip", clip.m_mTex, glDefault}};
    for (const auto& [texture, id, sampling] : textures) {
        SCOPED_TRACE(texture);
        ASSERT_NE(id, 0u);
        Sampling got;
        glBindTexture(GL_TEXTURE_2D, id);
        for (GLenum p : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER, GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T})
            glGetTexParameteriv(GL_TEXTURE_2D, p, &got.emplace_back());
        EXPECT_EQ(got, sampling);
    }
    clip.deleteTexture();
    delete reinterpret_cast<CircleDataSets*>(circles);
    delete reinterpret_cast<GLCache*>(cache);
}

} // namespace

// Every handle kind an export destroys gives back each GL object it made (the movie stub: ExportStream).
TEST_F(DrawState, DestroyingExportsFreeEveryGlObject)
{
    std::vector<unsigned char> frame(64 * 48 * 4, 0xff);
    const std::pair<const char*, std::function<void()>> kinds[] = {
        {"heatmap: deleteHeatmap_n",
         [] {
             const jlong h = jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n, 0, 0);
             ASSERT_NE(h, 0);
             jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n, h, 9, 1, 1, 64, 64);
             jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n, h);
             jni(Java_quorvex_viewer_OverlayView_GLDirectBuffer_deleteHeatmap_1n, h);
         }},
        {"video clip: release",
         [&] {
             VideoRes* clip = new VideoRes();
             ASSERT_GT(createTextures(64, 48, frame.data(), 4, clip), 0);
             jni(Java_quorvex_viewer_AnimationView_VideoClip_drawVideoTexture, handle(clip), 0, 0, 8, 8, 0, 0,
                 64, 48);
             jni(Java_quorvex_viewer_AnimationView_VideoClip_release, handle(clip));
         }},
        // No export destroys a circle set; its native owner does. Repeated selections replace its
        // pick buffers rather than adding to them. (The cache's own buffer: GLCacheTest.)
        {"circle set: two selections, destructor",
         [] {
             const jlong h = jni(Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce, 256, 256);
             ASSERT_NE(h, 0);
             auto* circles = reinterpret_cast<CircleDataSets*>(h);
             circles->addCircleNode(100, 100, 10, 1, 0, 0);
             jni(Java_quorvex_viewer_OverlayView_GLCircle_createGraphic, h);
             circles->selectNodes(98, 98, 4, 4);
             circles->selectNodes(90, 90, 20, 20);
             qv::forgetHandle(circles);
             delete circles;
         }},
    };
    for (const auto& kind : kinds) {
        const int before = qvtest::liveGlObjects(2048);
        kind.second();
        EXPECT_EQ(qvtest::liveGlObjects(2048), before) << kind.first;
    }
}
