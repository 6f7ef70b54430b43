#include "app/Options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace qvr {

namespace {

const char* const kProgramHelp = R"(usage: quorvex-render COMMAND [options]

Renders eye-tracking recordings without a display.

commands:
  heatmap     one recording's heat map over its stimulus, as a PNG
  movie       the scene video with the recording drawn over each frame, as an H.264 .mp4
  aggregate   the heat map of many recordings on one stimulus, as a PNG
  batch       a study's renders from a manifest, on every core or as Slurm array tasks

Run 'quorvex-render COMMAND --help' for a command's options.
Exit status: 0 rendered, 1 the render failed, 2 a usage or input error.
)";

const char* const kCommonHelp = R"(
  --format F          auto|pupil|neon|tobii|eyelink|xy (default auto, from the header)
  --source S          fixations|gaze: what the file holds, when it could be both
  --sigma PX          heat spread, the Gaussian's sigma in pixels (default 16)
  --weight W          duration|count: what a fixation adds to the heat (default duration
                      where the file has durations)
  --alpha A           opacity of the heat layer, 0 to 1 (default 1)
  --layers LIST       comma list of heatmap,fixations,scanpath,numbers,aoi
  --aoi FILE          interest areas, JSON: [{"name": ..., "points": [[x, y], ...]}, ...]
  --min-confidence C  gaze rows below it are skipped (default 0.6)
  --gl egl|glx        EGL without a display (default) or GLX on $DISPLAY
  --verbose           the library's own progress lines on stdout
  -o, --output OUT    the file to write (written under a temporary name, then renamed)
  -h, --help          this help
)";

const char* const kHeatmapHelp =
    R"(usage: quorvex-render heatmap --data FILE [--stimulus IMAGE | --size WxH] [options] -o OUT.png

Draws one recording's heat map (and the layers asked for) over the stimulus.
  --data FILE         fixations or gaze export of one recording
  --stimulus IMAGE    the picture the recording was made on (gives the size)
  --size WxH          the canvas size when there is no stimulus (grey background)
Layers: heatmap alone unless --layers says otherwise.)";

const char* const kMovieHelp = R"(usage: quorvex-render movie --data FILE --video SCENE [options] -o OUT.mp4

Draws each frame of the scene video with the recording up to that frame's time:
the heat map growing, fixations, scan path and the eye's position.
  --data FILE         fixations or gaze export of the recording
  --video SCENE       the scene (world) video, read through the video loader plug-ins
  --time-offset S     data time of the video's first frame in seconds (default 0);
                      Pupil rows carry the world frame index, which is used instead
Layers: all of them unless --layers says otherwise.)";

const char* const kAggregateHelp =
    R"(usage: quorvex-render aggregate [--stimulus IMAGE | --size WxH] [options] -o OUT.png FILE...

Sums the heat maps of every FILE on one stimulus; each recording is first
normalised to the same total weight.
  --stimulus IMAGE    the picture the recordings were made on (gives the size)
  --size WxH          the canvas size when there is no stimulus (grey background)
  --no-normalise      add the recordings' weights as they are
Layers: heatmap alone unless --layers says otherwise.)";

bool parseNumber(const char* text, double lo, double hi, double& out)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool parseSize(const char* text, int& w, int& h)
{
    char* end = nullptr;
    errno = 0;
    const long lw = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || (*end != 'x' && *end != 'X'))
        return false;
    const char* second = end + 1;
    const long lh = std::strtol(second, &end, 10);
    if (errno != 0 || end == second || *end != '\0' || lw < 1 || lh < 1 || lw > 16384 || lh > 16384)
        return false;
    w = static_cast<int>(lw);
    h = static_cast<int>(lh);
    return true;
}

bool parseLayers(const std::string& list, Layers& layers)
{
    layers = Layers();
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string name =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name == "heatmap")
            layers.heatmap = true;
        else if (name == "fixations")
            layers.fixations = true;
        else if (name == "scanpath")
            layers.scanpath = true;
        else if (name == "numbers")
            layers.numbers = true;
        else if (name == "aoi")
            layers.aoi = true;
        else
            return false;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return layers.any();
}

struct Parser {
    int argc;
    char** argv;
    int i;
    std::string& error;

    // The value of the option at argv[i]; moves past it.
    const char* value()
    {
        if (i + 1 >= argc) {
            error = std::string("option ") + argv[i] + " needs a value";
            return nullptr;
        }
        return argv[++i];
    }
    bool bad(const char* what)
    {
        error = std::string("bad ") + argv[i - 1] + " '" + argv[i] + "': " + what;
        return false;
    }
};

bool takeOption(Parser& p, Options& o, bool& layersGiven)
{
    const std::string name = p.argv[p.i];
    // Every option but the two flags takes the next argument as its value.
    static const char* const kValueOptions[] = {"--data",   "--stimulus",    "--video",          "--aoi",
                                                "-o",       "--output",      "--size",           "--format",
                                                "--source", "--sigma",       "--weight",         "--alpha",
                                                "--layers", "--time-offset", "--min-confidence", "--gl"};
    const char* v = nullptr;
    if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) != std::end(kValueOptions) &&
        (v = p.value()) == nullptr)
        return false;
    if (name == "--data") {
        o.data.push_back(v);
    } else if (name == "--stimulus") {
        o.stimulus = v;
    } else if (name == "--video") {
        o.video = v;
    } else if (name == "--aoi") {
        o.aoiFile = v;
    } else if (name == "-o" || name == "--output") {
        o.output = v;
    } else if (name == "--size") {
        if (!parseSize(v, o.width, o.height))
            return p.bad("WIDTHxHEIGHT, each from 1 to 16384");
    } else if (name == "--format") {
        if (!parseFormat(v, o.format))
            return p.bad("one of auto, pupil, neon, tobii, eyelink, xy");
    } else if (name == "--source") {
        if (!parseSource(v, o.source))
            return p.bad("auto, fixations or gaze");
    } else if (name == "--sigma") {
        if (!parseNumber(v, 0.5, 1000, o.sigma))
            return p.bad("pixels from 0.5 to 1000");
    } else if (name == "--weight") {
        if (std::strcmp(v, "duration") == 0)
            o.weight = Weight::Duration;
        else if (std::strcmp(v, "count") == 0)
            o.weight = Weight::Count;
        else
            return p.bad("duration or count");
    } else if (name == "--alpha") {
        if (!parseNumber(v, 0, 1, o.alpha))
            return p.bad("a number from 0 to 1");
    } else if (name == "--layers") {
        if (!parseLayers(v, o.layers))
            return p.bad("a comma list of heatmap, fixations, scanpath, numbers, aoi");
        layersGiven = true;
    } else if (name == "--time-offset") {
        if (!parseNumber(v, -1e12, 1e12, o.timeOffset))
            return p.bad("seconds");
    } else if (name == "--min-confidence") {
        if (!parseNumber(v, 0, 1, o.minConfidence))
            return p.bad("a number from 0 to 1");
    } else if (name == "--gl") {
        if (std::strcmp(v, "egl") == 0)
            o.useGlx = false;
        else if (std::strcmp(v, "glx") == 0)
            o.useGlx = true;
        else
            return p.bad("egl or glx");
    } else if (name == "--no-normalise" && o.command == Command::Aggregate) {
        o.normalise = false;
    } else if (name == "--verbose") {
        o.verbose = true;
    } else if (name.size() > 1 && name[0] == '-') {
        p.error = "unknown option " + name + " (see --help)";
        return false;
    } else if (o.command == Command::Aggregate) {
        o.data.push_back(name);
    } else {
        p.error = "unexpected argument '" + name + "' (see --help)";
        return false;
    }
    return true;
}

// What each command needs before anything is read.
bool checkComplete(const Options& o, std::string& error)
{
    if (o.output.empty()) {
        error = "no output: give -o OUT";
        return false;
    }
    if (o.data.empty()) {
        error = o.command == Command::Aggregate ? "no recordings: give one or more FILE" : "no --data FILE";
        return false;
    }
    if (o.command != Command::Aggregate && o.data.size() > 1) {
        error = "--data given more than once: one recording per render (aggregate takes many)";
        return false;
    }
    if (o.command == Command::Movie) {
        if (o.video.empty()) {
            error = "no --video SCENE";
            return false;
        }
        if (!o.stimulus.empty() || o.width > 0) {
            error = "movie takes its size from the video: --stimulus and --size do not apply";
            return false;
        }
        return true;
    }
    if (o.stimulus.empty() && o.width == 0) {
        error = "give --stimulus IMAGE or --size WxH";
        return false;
    }
    if (!o.stimulus.empty() && o.width > 0) {
        error = "give --stimulus or --size, not both";
        return false;
    }
    return true;
}

} // namespace

ParseResult parseOptions(int argc, char** argv, Options& options, std::string& error)
{
    if (argc < 2) {
        error = "no command (heatmap, movie or aggregate); see --help";
        return ParseResult::Error;
    }
    const std::string command = argv[1];
    if (command == "-h" || command == "--help")
        return ParseResult::Help;
    if (command == "heatmap")
        options.command = Command::Heatmap;
    else if (command == "movie")
        options.command = Command::Movie;
    else if (command == "aggregate")
        options.command = Command::Aggregate;
    else {
        error = "unknown command '" + command + "' (heatmap, movie or aggregate)";
        return ParseResult::Error;
    }
    bool layersGiven = false;
    Parser p{argc, argv, 2, error};
    for (; p.i < argc; ++p.i) {
        if (std::strcmp(argv[p.i], "-h") == 0 || std::strcmp(argv[p.i], "--help") == 0)
            return ParseResult::Help;
        if (!takeOption(p, options, layersGiven))
            return ParseResult::Error;
    }
    if (!layersGiven) {
        options.layers.heatmap = true;
        if (options.command == Command::Movie)
            options.layers.fixations = options.layers.scanpath = options.layers.numbers = options.layers.aoi =
                true;
    }
    if (options.layers.aoi && options.aoiFile.empty() && layersGiven) {
        error = "--layers names aoi but no --aoi FILE is given";
        return ParseResult::Error;
    }
    return checkComplete(options, error) ? ParseResult::Run : ParseResult::Error;
}

std::string helpText(const std::string& command)
{
    if (command == "heatmap")
        return std::string(kHeatmapHelp) + kCommonHelp;
    if (command == "movie")
        return std::string(kMovieHelp) + kCommonHelp;
    if (command == "aggregate")
        return std::string(kAggregateHelp) + kCommonHelp;
    return kProgramHelp;
}

} // namespace qvr
