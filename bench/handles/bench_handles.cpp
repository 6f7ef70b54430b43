// What the live-handle lookup costs at the exports, in the same run: an
// export whose body does nothing but answer (GLCacheDrawing.getTexture), and
// the circle and heatmap draws through their exports against the same draws
// called on the objects directly. Built against a library without the
// registry, the same program gives the baseline of each ratio.
#include "BenchMachine.h"
#include "heatmap/HeatmapScene.h"
#include "overlay/CircleDataSets.h"
#include "support/GlContext.h"

#include <jni.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <unistd.h>
#include <vector>

extern "C" {
JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(JNIEnv*, jclass, jint, jint);
JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_addCircle(JNIEnv*, jclass, jlong, jfloat,
                                                                           jfloat, jfloat, jfloat, jfloat,
                                                                           jfloat);
JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCircle_createGraphic(JNIEnv*, jclass, jlong);
JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLCircle_drawCircle(JNIEnv*, jclass, jlong);
JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(JNIEnv*, jclass,
                                                                                           jint, jint);
JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(JNIEnv*, jclass,
                                                                                            jlong, jint, jint,
                                                                                            jint, jint, jint);
JNIEXPORT void JNICALL Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(JNIEnv*, jclass,
                                                                                           jlong);
JNIEXPORT jlong JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache(JNIEnv*, jclass);
JNIEXPORT jint JNICALL Java_quorvex_viewer_OverlayView_GLCacheDrawing_getTexture(JNIEnv*, jclass, jlong);
}

namespace {

constexpr int kCanvas = 1024;

double seconds(const std::function<void()>& work)
{
    glFinish();
    const auto t0 = std::chrono::steady_clock::now();
    work();
    glFinish();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Median seconds per call of `viaExport` and `direct`, timed alternately.
void compare(const char* what, int reps, int calls, const std::function<void()>& viaExport,
             const std::function<void()>& direct)
{
    viaExport();
    direct();
    std::vector<double> a, b;
    for (int r = 0; r < reps; ++r) {
        a.push_back(seconds([&] {
                        for (int i = 0; i < calls; ++i)
                            viaExport();
                    }) /
                    calls);
        b.push_back(seconds([&] {
                        for (int i = 0; i < calls; ++i)
                            direct();
                    }) /
                    calls);
    }
    std::printf("%-34s %12.3f %12.3f %8.4f\n", what, median(a) * 1e6, median(b) * 1e6, median(a) / median(b));
}

} // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::atoi(argv[1]) : 15;
    const int circleCount = argc > 2 ? std::atoi(argv[2]) : 1000;
    qvtest::GlContext gl(kCanvas, kCanvas);
    if (!gl.ok()) {
        std::fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    qvtest::canvasProjection(kCanvas, kCanvas);
    std::printf("machine: nproc %ld, %s\n", sysconf(_SC_NPROCESSORS_ONLN), qvbench::cpuModel().c_str());
    std::printf("GL renderer: %s | %s\n", glGetString(GL_RENDERER), glGetString(GL_VERSION));

    const jlong circles =
        Java_quorvex_viewer_OverlayView_GLCircle_intGLCirlce(nullptr, nullptr, kCanvas, kCanvas);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(0, 1);
    for (int i = 0; i < circleCount; ++i)
        Java_quorvex_viewer_OverlayView_GLCircle_addCircle(nullptr, nullptr, circles, unit(random) * kCanvas,
                                                           unit(random) * kCanvas, 8 + unit(random) * 24,
                                                           unit(random), unit(random), unit(random));
    Java_quorvex_viewer_OverlayView_GLCircle_createGraphic(nullptr, nullptr, circles);
    const jlong heat =
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_iniHeatmapBuffer_1n(nullptr, nullptr, 0, 0);
    for (int i = 0; i < 2000; ++i)
        Java_quorvex_viewer_OverlayView_GLDirectBuffer_updateHeatmapValue_1n(
            nullptr, nullptr, heat, 1 + i % 200, int(unit(random) * kCanvas), int(unit(random) * kCanvas),
            kCanvas, kCanvas);
    const jlong cache = Java_quorvex_viewer_OverlayView_GLCacheDrawing_intGLCache(nullptr, nullptr);
    if (circles == 0 || heat == 0 || cache == 0) {
        std::fprintf(stderr, "an object could not be created\n");
        return 1;
    }
    auto* circleSet = reinterpret_cast<CircleDataSets*>(circles);
    auto* scene = reinterpret_cast<HeatmapScene*>(heat);

    std::printf("%d reps, medians; microseconds per call\n", reps);
    std::printf("%-34s %12s %12s %8s\n", "case", "export us", "direct us", "ratio");
    volatile jint sink = 0;
    compare(
        "getTexture (answer only)", reps, 1000000,
        [&] {
            sink = sink + Java_quorvex_viewer_OverlayView_GLCacheDrawing_getTexture(nullptr, nullptr, cache);
        },
        [&] { sink = sink + 0; });
    char circleCase[64];
    std::snprintf(circleCase, sizeof circleCase, "drawCircle, %d circles", circleCount);
    compare(
        circleCase, reps, 10,
        [&] { Java_quorvex_viewer_OverlayView_GLCircle_drawCircle(nullptr, nullptr, circles); },
        [&] { circleSet->renderVbo(0); });
    compare(
        "drawHeatmapBuffer_n", reps, 10,
        [&] { Java_quorvex_viewer_OverlayView_GLDirectBuffer_drawHeatmapBuffer_1n(nullptr, nullptr, heat); },
        [&] { scene->drawHeatMap(); });
    return 0;
}
