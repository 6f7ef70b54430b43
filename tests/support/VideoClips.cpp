#include "support/VideoClips.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

namespace qvtest {
namespace {

// Bump when the recipe changes, so old clips in the shared folder are not reused.
constexpr const char* kRecipe = "v1";

constexpr int kGridColumns = 4, kGridRows = 3, kWhiteMarkerCell = 0, kBlackMarkerCell = 8;

// The number pattern is drawn on an 8 x 6 picture (2 x 2 pixels per cell, so
// 4:2:0 chroma never straddles cells) and scaled up without filtering.
std::string patternFilter(const ClipSpec& spec)
{
    char filter[512];
    std::snprintf(filter, sizeof filter,
                  "format=yuv444p,"
                  "geq=lum='st(0,floor(X/2)+4*floor(Y/2));"
                  "if(eq(ld(0),%d),235,if(eq(ld(0),%d),16,"
                  "if(bitand(N,pow(2,ld(0)-1-gt(ld(0),%d))),235,16)))':cb=128:cr=128,"
                  "scale=%d:%d:flags=neighbor,format=yuv420p,noise=alls=10:allf=t",
                  kWhiteMarkerCell, kBlackMarkerCell, kBlackMarkerCell, spec.width, spec.height);
    return filter;
}

// Per format, in ClipFormat order: name, file extension, ffmpeg's codec and container arguments.
struct FormatRecipe {
    const char* name;
    const char* extension;
    std::string codec;
};
const FormatRecipe& recipe(ClipFormat format)
{
    const std::string key = std::to_string(kClipKeyInterval);
    static const FormatRecipe recipes[] = {
        // Fixed B-frame placement: x264 would otherwise drop B-frames on this simple picture.
        {"h264-mp4", ".mp4",
         "-c:v libx264 -preset veryfast -x264-params b-adapt=0:bframes=2:scenecut=0:keyint=" + key +
             ":min-keyint=" + key + " -f mp4"},
        {"xvid-avi", ".avi", "-c:v mpeg4 -vtag XVID -bf 2 -g " + key + " -q:v 4 -f avi"},
        {"mpeg2-mpg", ".mpg", "-c:v mpeg2video -bf 2 -g " + key + " -q:v 4 -f mpeg"},
    };
    return recipes[static_cast<int>(format)];
}

bool isNonEmptyFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool makeClip(const ClipSpec& spec, const std::string& path)
{
    const std::string temporary = path + ".part" + std::to_string(getpid());
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i nullsrc=s=8x6:r=" + std::to_string(kClipFramesPerSecond) +
        " -vf \"" + patternFilter(spec) + "\" -frames:v " + std::to_string(spec.frames) + " -threads 2 " +
        recipe(spec.format).codec + " '" + temporary + "' </dev/null >/dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0 && isNonEmptyFile(temporary) &&
                      rename(temporary.c_str(), path.c_str()) == 0;
    if (!made) {
        unlink(temporary.c_str());
        std::fprintf(stderr, "could not make test clip %s\n", path.c_str());
    }
    return made;
}

std::string clipPath(const ClipSpec& spec)
{
    return clipFolder() + "/" + recipe(spec.format).name + std::string("-") + std::to_string(spec.width) +
           "x" + std::to_string(spec.height) + "-" + std::to_string(spec.frames) +
           recipe(spec.format).extension;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A file of these bytes for this process alone, removed when it ends; empty when not written.
std::string scratchFile(const std::string& name, const std::string& bytes)
{
    static std::vector<std::string> paths;
    [[maybe_unused]] static const int removal = atexit([] {
        for (const std::string& p : paths)
            unlink(p.c_str());
    });
    paths.push_back(clipFolder() + "/" + std::to_string(getpid()) + "-" + std::to_string(paths.size()) + "-" +
                    name);
    std::ofstream out(paths.back(), std::ios::binary | std::ios::trunc);
    return (out << bytes).good() ? paths.back() : std::string();
}

enum class Level { Dark, Light, Unclear };

// The mean of B, G and R over the middle half of a cell, classified.
Level cellLevel(const uint8_t* bgra, int width, int height, int stride, bool bottomUp, int cell)
{
    const int column = cell % kGridColumns, row = cell / kGridColumns;
    const int x0 = column * width / kGridColumns, x1 = (column + 1) * width / kGridColumns;
    const int y0 = row * height / kGridRows, y1 = (row + 1) * height / kGridRows;
    const int left = x0 + (x1 - x0) / 4, right = x1 - (x1 - x0) / 4;
    const int top = y0 + (y1 - y0) / 4, bottom = y1 - (y1 - y0) / 4;
    const int step = std::max(1, (right - left) / 16);
    long sum = 0, count = 0;
    for (int y = top; y < bottom; y += step) {
        const uint8_t* line = bgra + static_cast<long>(bottomUp ? height - 1 - y : y) * stride;
        for (int x = left; x < right; x += step) {
            const uint8_t* p = line + x * 4;
            sum += p[0] + p[1] + p[2];
            count += 3;
        }
    }
    const long mean = count ? sum / count : -1;
    return mean >= 0 && mean < 80 ? Level::Dark : mean > 175 ? Level::Light : Level::Unclear;
}

} // namespace

std::string clipLabel(const ClipSpec& spec)
{
    return std::string(recipe(spec.format).name) + " " + std::to_string(spec.width) + "x" +
           std::to_string(spec.height) + " " + std::to_string(spec.frames);
}

const std::vector<ClipSpec>& standardClips()
{
    static const std::vector<ClipSpec> clips = {
        {ClipFormat::H264Mp4, 720, 480, 60},  {ClipFormat::XvidAvi, 720, 480, 50},
        {ClipFormat::Mpeg2Mpg, 720, 480, 40}, {ClipFormat::H264Mp4, 320, 240, 31},
        {ClipFormat::XvidAvi, 176, 144, 30},  {ClipFormat::Mpeg2Mpg, 320, 240, 35},
    };
    return clips;
}

const std::string& clipFolder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string f = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-test-clips-" + kRecipe + "-" +
                        std::to_string(getuid());
        mkdir(f.c_str(), 0700);
        return f;
    }();
    return folder;
}

std::string videoClip(const ClipSpec& spec)
{
    if (spec.width <= 0 || spec.height <= 0 || spec.width % 2 || spec.height % 2 || spec.frames <= 0 ||
        spec.frames > 1024)
        return {};
    static std::map<std::string, bool> made; // a clip that failed is not tried again
    const std::string path = clipPath(spec);
    if (made.count(path) == 0)
        made[path] = isNonEmptyFile(path) || makeClip(spec, path);
    return made[path] ? path : std::string();
}

std::string truncatedClip(const ClipSpec& spec, double fraction)
{
    const std::string bytes = videoClip(spec).empty() ? "" : readBytes(videoClip(spec));
    return bytes.empty() ? std::string()
                         : scratchFile("truncated-" + clipPath(spec).substr(clipFolder().size() + 1),
                                       bytes.substr(0, size_t(double(bytes.size()) * fraction)));
}

std::string garbageClip(const char* extension)
{
    std::mt19937 random(12345);
    std::string bytes(64 * 1024, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    return scratchFile(std::string("garbage") + extension, bytes);
}

int frameNumberFromPixels(const uint8_t* bgra, int width, int height, int strideBytes, bool bottomUp)
{
    if (!bgra || width < kGridColumns * 2 || height < kGridRows * 2 || strideBytes < width * 4)
        return -1;
    int number = 0, bit = 0;
    for (int cell = 0; cell < kGridColumns * kGridRows; ++cell) {
        const Level level = cellLevel(bgra, width, height, strideBytes, bottomUp, cell);
        if (level == Level::Unclear || (cell == kWhiteMarkerCell && level != Level::Light) ||
            (cell == kBlackMarkerCell && level != Level::Dark))
            return -1;
        if (cell != kWhiteMarkerCell && cell != kBlackMarkerCell)
            number |= int(level == Level::Light) << bit++;
    }
    return number;
}

} // namespace qvtest
