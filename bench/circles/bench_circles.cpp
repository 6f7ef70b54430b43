// Instanced circle drawing against the fixed-function fallback (one circle at
// a time) and one plain glDrawElements of pre-transformed vertices. (The
// triangle draw was measured once against the strip draw it replaced; the
// figures are in the README.)
#include "BenchMachine.h"
#include "overlay/CircleDataSets.h"
#include "support/GlContext.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kCanvas = 1024;

// Seconds of one draw, glFinish around it; the best of reps (no warm-up).
double bestOf(const std::function<void()>& draw, int reps)
{
    double best = 1e30;
    for (int i = 0; i < reps; ++i) {
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
        const auto t0 = std::chrono::steady_clock::now();
        draw();
        glFinish();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        best = s < best ? s : best;
    }
    return best;
}

// Seconds per call of draw after a warm-up (shader variants, uploads).
double timeDraw(const std::function<void()>& draw, int reps)
{
    draw();
    glFinish();
    return bestOf(draw, reps);
}

struct Node {
    float x, y, size, r, g, b;
};

std::vector<Node> makeNodes(int n)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> pos(0.0f, kCanvas), size(3.0f, 12.0f), c(0.2f, 1.0f);
    std::vector<Node> nodes(static_cast<size_t>(n));
    for (auto& v : nodes)
        v = Node{pos(rng), pos(rng), size(rng), c(rng), c(rng), c(rng)};
    return nodes;
}

// A circle set holding the nodes with its buffers made; null (reported) without its programs.
std::unique_ptr<CircleDataSets> circleSet(const std::vector<Node>& nodes)
{
    auto circles = std::make_unique<CircleDataSets>(kCanvas, kCanvas);
    for (const auto& v : nodes)
        circles->addCircleNode(v.x, v.y, v.size, v.r, v.g, v.b);
    circles->createVbo();
    if (!circles->programsReady) {
        std::fprintf(stderr, "circle programs not built\n");
        return nullptr;
    }
    return circles;
}

// The limit: every circle's vertices transformed on the CPU into one buffer and
// drawn by one glDrawElements with primitive restart, same primitives as the
// instanced draw (line loops of 45 points, 43 triangles of 129 indices).
struct PlainBuffers {
    GLuint vbo = 0, ibo = 0;
    GLsizei count = 0;
    GLenum primitive = GL_LINE_LOOP;

    PlainBuffers(const std::vector<Node>& nodes, bool filled)
    {
        const float* unit = CircleDataSets::testNode->lineloopData;
        std::vector<float> vertices;
        vertices.reserve(nodes.size() * CircleDataSets::kCirclePoints * 2);
        std::vector<GLuint> indices;
        const int per = filled ? CircleDataSets::kTriIndices : CircleDataSets::kCirclePoints;
        indices.reserve(nodes.size() * (per + 1));
        GLuint base = 0;
        for (const auto& n : nodes) {
            const float k = n.size / 200.0f;
            for (int i = 0; i < CircleDataSets::kCirclePoints; ++i) {
                vertices.push_back(n.x + unit[2 * i] * k);
                vertices.push_back(n.y + unit[2 * i + 1] * k);
            }
            const GLushort* src = filled ? CircleDataSets::vbo_tri_index : CircleDataSets::vbo_index;
            for (int i = 0; i < per; ++i)
                indices.push_back(base + src[i]);
            indices.push_back(0xFFFFFFFFu);
            base += CircleDataSets::kCirclePoints;
        }
        primitive = filled ? GL_TRIANGLES : GL_LINE_LOOP;
        count = static_cast<GLsizei>(indices.size());
        glGenBuffers(1, &vbo);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
                     vertices.data(), GL_STATIC_DRAW);
        glGenBuffers(1, &ibo);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(GLuint)),
                     indices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
    ~PlainBuffers()
    {
        glDeleteBuffers(1, &vbo);
        glDeleteBuffers(1, &ibo);
    }
    void draw() const
    {
        glEnable(GL_PRIMITIVE_RESTART);
        glPrimitiveRestartIndex(0xFFFFFFFFu);
        glColor3f(1, 1, 1);
        glEnableClientState(GL_VERTEX_ARRAY);
        glBindBuffer(GL_ARRAY_BUFFER, vbo);
        glVertexPointer(2, GL_FLOAT, 0, nullptr);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, ibo);
        glDrawElements(primitive, count, GL_UNSIGNED_INT, nullptr);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        glDisable(GL_PRIMITIVE_RESTART);
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::atoi(argv[1]) : 3;
    const int fallbackSubset = argc > 2 ? std::atoi(argv[2]) : 20000;
    qvtest::GlContext gl(kCanvas, kCanvas);
    if (!gl.ok()) {
        std::fprintf(stderr, "no GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    gl.canvasProjection();
    std::printf("machine: nproc %ld, %s\n", sysconf(_SC_NPROCESSORS_ONLN), qvbench::cpuModel().c_str());
    std::printf("renderer: %s | %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                reinterpret_cast<const char*>(glGetString(GL_VERSION)));

    const int maxNodes = argc > 3 ? std::atoi(argv[3]) : 1000000;
    std::printf("%-9s %-8s %14s %14s %14s %10s %10s %12s %12s %10s\n", "nodes", "mode", "instanced ns",
                "fallback ns", "plain ns", "fb/inst", "inst/plain", "inst nr ns", "fb nr ns", "fb/inst nr");
    std::printf("(nr: rasteriser discarded)\n");

    for (int n : {100000, 1000000}) {
        if (n > maxNodes)
            break;
        const std::vector<Node> nodes = makeNodes(n);
        std::unique_ptr<CircleDataSets> set = circleSet(nodes);
        if (!set)
            return 1;
        CircleDataSets& circles = *set;
        for (int mode : {0, 1}) {
            const double inst = timeDraw([&] { circles.renderVbo(mode); }, reps) / n;

            // The fallback draws outlines only, one circle at a time; timed on a
            // subset and scaled per circle.
            const int subset = n < fallbackSubset ? n : fallbackSubset;
            circles.version = 2;
            circles.totalNodes = subset;
            const double fallback = timeDraw([&] { circles.renderVbo(mode); }, 1) / subset;
            circles.version = 4;
            circles.totalNodes = n;

            double plain = 0;
            {
                const PlainBuffers buffers(nodes, mode == 1);
                plain = timeDraw([&] { buffers.draw(); }, reps) / n;
            }
            // The same two draws with rasterisation discarded: what is left is the
            // submission and vertex work that instancing removes, which a
            // software rasteriser otherwise hides behind its per-pixel cost.
            glEnable(GL_RASTERIZER_DISCARD);
            const double instSubmit = timeDraw([&] { circles.renderVbo(mode); }, reps) / n;
            circles.version = 2;
            circles.totalNodes = subset;
            const double fallbackSubmit = timeDraw([&] { circles.renderVbo(mode); }, 1) / subset;
            circles.version = 4;
            circles.totalNodes = n;
            glDisable(GL_RASTERIZER_DISCARD);

            std::printf("%-9d %-8s %14.1f %14.1f %14.1f %10.1f %10.2f %12.1f %12.1f %10.1f\n", n,
                        mode == 0 ? "outline" : "filled", inst * 1e9, fallback * 1e9, plain * 1e9,
                        fallback / inst, inst / plain, instSubmit * 1e9, fallbackSubmit * 1e9,
                        fallbackSubmit / instSubmit);
            std::fflush(stdout);
        }
    }
    return 0;
}
