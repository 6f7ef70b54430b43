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

// Per format, in ClipFormat order: name, file extension, ffmpeg's codec and container arguments
// (x264's B-frames placed fixed, or it would drop them on this simple picture).
struct FormatRecipe {
    const char *name, *extension;
    std::string codec;
};
const FormatRecipe& recipe(ClipFormat format)
{
    const std::string key = std::to_string(kClipKeyInterval);
    static const FormatRecipe recipes[] = {
        {"h264-mp4", ".mp4",
         "-c:v libx264 -preset veryfast -x264-params b-adapt=0:bframes=2:scenecut=0:keyint=" + key +
             ":min-keyint=" + key + " -f mp4"},
        {"xvid-avi", ".avi", "-c:v mpeg4 -vtag XVID -bf 2 -g " + key + " -q:v 4 -f avi"},
        {"mpeg2-mpg", ".mpg", "-c:v mpeg2video -bf 2 -g " + key + " -q:v 4 -f mpeg"},
    };
    return recipes[static_cast<int>(format)];
}

const std::string& clipFolder()
{
    const char* tmp = std::getenv("TMPDIR");
    static const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-test-clips-" + kRecipe +
                                      "-" + std::to_string(getuid());
    [[maybe_unused]] static const int made = mkdir(folder.c_str(), 0700);
    return folder;
}

bool isNonEmptyFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

// The number pattern is drawn on an 8 x 6 picture (2 x 2 pixels per cell, so 4:2:0 chroma never
// straddles cells) and scaled up without filtering.
bool makeClip(const ClipSpec& spec, const std::string& path)
{
    char filter[512];
    std::snprintf(filter, sizeof filter,
                  "format=yuv444p,"
                  "geq=lum='st(0,floor(X/2)+4*floor(Y/2));"
                  "if(eq(ld(0),%d),235,if(eq(ld(0),%d),16,"
                  "if(bitand(N,pow(2,ld(0)-1-gt(ld(0),%d))),235,16)))':cb=128:cr=128,"
                  "scale=%d:%d:flags=neighbor,format=yuv420p,noise=alls=10:allf=t",
                  kWhiteMarkerCell, kBlackMarkerCell, kBlackMarkerCell, spec.width, spec.height);
    const std::string temporary = path + ".part" + std::to_string(getpid());
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i nullsrc=s=8x6:r=" + std::to_string(kClipFramesPerSecond) +
        " -vf \"" + filter + "\" -frames:v " + std::to_string(spec.frames) + " -threads 2 " +
        recipe(spec.format).codec + " '" + temporary + "' </dev/null >/dev/null 2>&1";
    const bool made = std::system(command.c_str()) == 0 && isNonEmptyFile(temporary) &&
                      rename(temporary.c_str(), path.c_str()) == 0;
    if (!made)
        unlink(temporary.c_str());
    return made;
}

// "h264-mp4-720x480-60.mp4"
std::string clipFile(const ClipSpec& spec)
{
    std::string name = clipLabel(spec);
    std::replace(name.begin(), name.end(), ' ', '-');
    return name + recipe(spec.format).extension;
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

std::string videoClip(const ClipSpec& spec)
{
    static std::map<std::string, bool> made; // a clip that failed is not tried again
    const std::string path = clipFolder() + "/" + clipFile(spec);
    if (made.count(path) == 0)
        made[path] = isNonEmptyFile(path) || makeClip(spec, path);
    return made[path] ? path : std::string();
}

std::string truncatedClip(const ClipSpec& spec, double fraction)
{
    std::ifstream in(videoClip(spec), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.empty() ? std::string()
                         : scratchFile("truncated-" + clipFile(spec),
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

// Each cell's mean of B, G and R over its middle half: dark, light, or (between) no number.
int frameNumberFromPixels(const uint8_t* bgra, int width, int height, int strideBytes, bool bottomUp)
{
    int number = 0, bit = 0;
    for (int cell = 0; cell < kGridColumns * kGridRows; ++cell) {
        const int x0 = cell % kGridColumns * width / kGridColumns, x1 = x0 + width / kGridColumns;
        const int y0 = cell / kGridColumns * height / kGridRows, y1 = y0 + height / kGridRows;
        long sum = 0, count = 0;
        for (int y = y0 + (y1 - y0) / 4; y < y1 - (y1 - y0) / 4; ++y)
            for (int x = x0 + (x1 - x0) / 4; x < x1 - (x1 - x0) / 4; ++x, count += 3) {
                const uint8_t* p = bgra + long(bottomUp ? height - 1 - y : y) * strideBytes + x * 4;
                sum += p[0] + p[1] + p[2];
            }
        const bool light = sum >= 176 * count, dark = sum < 80 * count;
        if ((!light && !dark) || (cell == kWhiteMarkerCell && !light) || (cell == kBlackMarkerCell && !dark))
            return -1;
        if (cell != kWhiteMarkerCell && cell != kBlackMarkerCell)
            number |= int(light) << bit++;
    }
    return number;
}

} // namespace qvtest
