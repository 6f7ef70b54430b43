// Window selection cost against piles of stacked circles, and what the node
// tables and per-set GL textures cost in resident memory.
//
// Selection peels one layer per pass, so a pile of k circles at one spot takes
// k + 1 passes (the last finds nothing). Each pass draws every node in pick
// colours, reads the window back and re-uploads the attribute table to hide
// what it found; the baseline is one plain outline draw of the same nodes.
#include "BenchMachine.h"
#include "overlay/CircleDataSets.h"
#include "support/GlContext.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kCanvas = 1024;
constexpr int kNodes = 100000;
// Selection window, lower-left corner, y up (the pick projection's convention).
constexpr int kWinX = 400, kWinY = 400, kWinW = 200, kWinH = 200;
constexpr float kPileX = 500.0f, kPileY = 500.0f, kPileSize = 10.0f;

struct Node {
    float x, y, size, r, g, b;
};

// ---- memory ----

// A field of /proc/self/status in KiB, -1 when missing.
long statusKiB(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.compare(0, key.size(), key) == 0)
            return std::atol(line.c_str() + key.size());
    return -1;
}

struct Mapping {
    unsigned long lo = 0, hi = 0;
    long rssKiB = -1;
};

// The mapping of /proc/self/smaps that holds address (rssKiB -1 when not found).
Mapping mappingOf(const void* address)
{
    const auto a = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream in("/proc/self/smaps");
    std::string line;
    Mapping m;
    bool inside = false;
    while (std::getline(in, line)) {
        unsigned long lo = 0, hi = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &lo, &hi) == 2 && line.find(':') > line.find(' ')) {
            inside = a >= lo && a < hi;
            if (inside) {
                m.lo = lo;
                m.hi = hi;
            }
            continue;
        }
        if (inside && line.compare(0, 4, "Rss:") == 0) {
            m.rssKiB = std::atol(line.c_str() + 4);
            return m;
        }
    }
    return m;
}

struct MemoryRow {
    std::string stage;
    long rss, anon, file, tablesResident;
};

MemoryRow memoryRow(const std::string& stage)
{
    // The kernel may merge the two tables' anonymous mappings into one; count it once.
    const Mapping t1 = mappingOf(CircleDataSets::attributeTex);
    const Mapping t2 = mappingOf(CircleDataSets::attributeTex2);
    long tables = -1;
    if (t1.rssKiB >= 0 && t2.rssKiB >= 0)
        tables = t1.lo == t2.lo ? t1.rssKiB : t1.rssKiB + t2.rssKiB;
    return MemoryRow{stage, statusKiB("VmRSS"), statusKiB("RssAnon"), statusKiB("RssFile"), tables};
}

// Bytes of the class-wide tables as the types give them.
size_t tableBytes()
{
    const size_t slots = CircleDataSets::kCapacity;
    return slots * 4 * sizeof(*CircleDataSets::attributeTex) +
           slots * 3 * sizeof(*CircleDataSets::attributeTex2);
}

size_t templateBytes()
{
    return sizeof(CircleDataSets::vbo_index) + sizeof(CircleDataSets::vbo_tri_index) + sizeof(DataNodes) +
           static_cast<size_t>(CircleDataSets::kCirclePoints) * 2 * sizeof(float);
}

// ---- timing ----

struct Stats {
    double best, median;
};

// Seconds per call, glFinish() before and after each timed call, one warm-up.
Stats timeCall(const std::function<void()>& call, int reps)
{
    call();
    glFinish();
    std::vector<double> t;
    for (int i = 0; i < reps; ++i) {
        glFinish();
        const auto t0 = std::chrono::steady_clock::now();
        call();
        glFinish();
        t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(t.begin(), t.end());
    return Stats{t.front(), t[t.size() / 2]};
}

// Nodes whose whole circle lies outside the region the pick pass renders
// (the window rounded up to powers of two), plus a margin.
std::vector<Node> outsideNodes(int n)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> pos(0.0f, kCanvas), size(3.0f, 12.0f), c(0.2f, 1.0f);
    const float lo = kWinX - 2.0f, hi = kWinX + 256.0f + 2.0f;
    std::vector<Node> nodes;
    nodes.reserve(static_cast<size_t>(n));
    while (static_cast<int>(nodes.size()) < n) {
        const Node v{pos(rng), pos(rng), size(rng), c(rng), c(rng), c(rng)};
        const bool overlaps =
            v.x + v.size > lo && v.x - v.size < hi && v.y + v.size > lo && v.y - v.size < hi;
        if (!overlaps)
            nodes.push_back(v);
    }
    return nodes;
}

// The pile in slots 0 .. pile - 1, the rest after it: kNodes in all.
void loadPile(CircleDataSets& set, const std::vector<Node>& outside, int pile)
{
    set.clearNodes();
    for (int i = 0; i < pile; ++i)
        set.addCircleNode(kPileX, kPileY, kPileSize, 1.0f, 0.5f, 0.25f);
    for (int i = 0; i < kNodes - pile; ++i) {
        const Node& v = outside[static_cast<size_t>(i)];
        set.addCircleNode(v.x, v.y, v.size, v.r, v.g, v.b);
    }
    set.createVbo();
}

struct SelectionRow {
    int pile;
    int passes;
    size_t found;
    bool exact;
    Stats total;
};

bool foundExactlyPile(const CircleDataSets& set, int pile)
{
    std::vector<int> f = set.found_list;
    std::sort(f.begin(), f.end());
    if (static_cast<int>(f.size()) != pile)
        return false;
    for (int i = 0; i < pile; ++i)
        if (f[static_cast<size_t>(i)] != i)
            return false;
    return true;
}

void printMemory(const std::vector<MemoryRow>& rows)
{
    std::printf(
        "\n== memory (KiB; tables = resident KiB of the mapping(s) holding the two tables, /proc/self/smaps) ==\n");
    std::printf("class-wide tables from the types: %zu bytes (%.2f MiB); template %zu bytes\n", tableBytes(),
                static_cast<double>(tableBytes()) / (1024.0 * 1024.0), templateBytes());
    std::printf("%-44s %10s %10s %10s %10s %12s\n", "stage", "VmRSS", "RssAnon", "RssFile", "tables",
                "dRSS prev");
    long prev = -1;
    for (const auto& r : rows) {
        std::printf("%-44s %10ld %10ld %10ld %10ld %12ld\n", r.stage.c_str(), r.rss, r.anon, r.file,
                    r.tablesResident, prev < 0 ? 0 : r.rss - prev);
        prev = r.rss;
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int reps = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::vector<MemoryRow> memory;
    // The library is linked, so its load-time tables exist before main.
    memory.push_back(memoryRow("start (library loaded, no GL)"));

    qvtest::GlContext gl(kCanvas, kCanvas);
    if (!gl.ok() || !gl.error().empty()) {
        std::fprintf(stderr, "no usable GL context: %s\n", gl.error().c_str());
        return 1;
    }
    gl.makeCurrent();
    gl.canvasProjection();
    memory.push_back(memoryRow("GL context current (Mesa loaded)"));
    const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const std::string version = reinterpret_cast<const char*>(glGetString(GL_VERSION));

    // ---- memory: 1 set, 10 sets, createGraphic on them ----
    const std::vector<Node> outside = outsideNodes(kNodes);
    {
        std::vector<std::unique_ptr<CircleDataSets>> sets;
        sets.push_back(std::make_unique<CircleDataSets>(kCanvas, kCanvas));
        for (const Node& v : outside)
            sets[0]->addCircleNode(v.x, v.y, v.size, v.r, v.g, v.b);
        memory.push_back(memoryRow("1 data set, 100,000 nodes added"));
        while (sets.size() < 10)
            sets.push_back(std::make_unique<CircleDataSets>(kCanvas, kCanvas));
        memory.push_back(memoryRow("10 data sets"));
        sets[0]->createVbo();
        glFinish();
        memory.push_back(memoryRow("createGraphic on 1 set"));
        for (auto& s : sets)
            if (!s->programsReady)
                s->createVbo();
        glFinish();
        memory.push_back(memoryRow("createGraphic on all 10 sets"));
        for (auto& s : sets)
            s->renderVbo(0);
        glFinish();
        memory.push_back(memoryRow("one drawCircle on each of the 10"));
        sets.clear();
        glFinish();
        memory.push_back(memoryRow("10 sets destroyed"));
    }

    // ---- selection ----
    CircleDataSets set(kCanvas, kCanvas);
    loadPile(set, outside, 1);
    if (!set.canSelect()) {
        std::fprintf(stderr, "selection cannot run (programs not built)\n");
        return 1;
    }
    // Baseline: one plain outline draw of the same 100,000 nodes on the canvas.
    const Stats draw = timeCall([&] { set.renderVbo(0); }, reps);
    // What each pass pays to hide its finds: the whole attribute table re-uploaded.
    const Stats upload = timeCall([&] { set.hideNode(nullptr, 0); }, reps);

    std::vector<SelectionRow> rows;
    for (int pile : {0, 1, 10, 100}) {
        loadPile(set, outside, pile);
        const Stats total = timeCall([&] { set.selectNodes(kWinX, kWinY, kWinW, kWinH); }, reps);
        rows.push_back(
            SelectionRow{pile, set.pick_passes, set.found_list.size(), foundExactlyPile(set, pile), total});
    }

    std::printf("\n== circle selection bench ==\n");
    std::printf("cpu: %s | nproc %ld | renderer: %s | %s\n", qvbench::cpuModel().c_str(),
                sysconf(_SC_NPROCESSORS_ONLN), renderer.c_str(), version.c_str());
    std::printf("canvas %d x %d, %d nodes, window %d x %d at (%d, %d); %d timed reps after one warm-up, "
                "glFinish() around each; median (best)\n",
                kCanvas, kCanvas, kNodes, kWinW, kWinH, kWinX, kWinY, reps);
    std::printf("baseline drawCircle (renderVbo(0)), %d nodes: %.2f ms (%.2f)\n", kNodes, draw.median * 1e3,
                draw.best * 1e3);
    std::printf("attribute table upload (hideNode of none): %.2f ms (%.2f)\n", upload.median * 1e3,
                upload.best * 1e3);
    std::printf("%-6s %-7s %-6s %-6s %16s %16s %12s %12s\n", "pile", "passes", "found", "exact", "total ms",
                "per pass ms", "total/draw", "pass/draw");
    const SelectionRow* one = nullptr;
    for (const auto& r : rows) {
        if (r.pile == 1)
            one = &r;
        const double perPass = r.total.median / r.passes;
        std::printf("%-6d %-7d %-6zu %-6s %8.2f (%6.2f) %8.2f (%6.2f) %12.1f %12.2f\n", r.pile, r.passes,
                    r.found, r.exact ? "yes" : "NO", r.total.median * 1e3, r.total.best * 1e3, perPass * 1e3,
                    r.total.best / r.passes * 1e3, r.total.median / draw.median, perPass / draw.median);
    }
    if (one != nullptr) {
        std::printf("growth against pile 1 (medians):\n");
        for (const auto& r : rows)
            if (r.pile > 1)
                std::printf("  pile %d / pile 1: total %.1fx, per pass %.2fx, passes %.1fx\n", r.pile,
                            r.total.median / one->total.median,
                            (r.total.median / r.passes) / (one->total.median / one->passes),
                            static_cast<double>(r.passes) / one->passes);
    }
    printMemory(memory);
    bool allExact = true;
    for (const auto& r : rows)
        allExact = allExact && r.exact;
    return allExact ? 0 : 2;
}
