// quorvex-render as a lab runs it: a process per render, checked by its exit
// status, its one line on stderr, and probes of what it wrote.
#include "support/Images.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Result {
    int status;
    std::string err;
};

std::string workDir()
{
    static const std::string dir = [] {
        char name[] = "/tmp/qv-render-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    return dir;
}

std::string writeFile(const std::string& name, const std::string& text)
{
    const std::string path = workDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

int sh(const std::string& command) { return std::system(command.c_str()); }

Result render(const std::string& args)
{
    const std::string errPath = workDir() + "/stderr.txt";
    const int raw = sh(QV_RENDER " " + args + " 2>" + errPath + " >/dev/null");
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, qvtest::readFile(errPath)};
}

// Files whose names start with ".quorvex-render-" in the work folder.
int leftoverTemporaries()
{
    int n = 0;
    for (const auto& e : fs::directory_iterator(workDir()))
        n += e.path().filename().string().rfind(".quorvex-render-", 0) == 0;
    return n;
}

using qvtest::Picture;

// A stimulus whose left half is dark blue and right half light grey, so a
// probe also tells a mirrored picture.
std::string writeStimulus(const std::string& name, int width, int height)
{
    const std::string path = workDir() + "/" + name;
    qvtest::writeImage(path, FIF_PNG, width, height, 24, [width](int x, int) {
        return x < width / 2 ? qvtest::Rgba{20, 30, 120, 255} : qvtest::Rgba{200, 200, 200, 255};
    });
    return path;
}

// Pupil gaze rows (normalised, origin bottom left): a dense cloud around
// (cx, cy) pixels of a width x height picture, and a few points elsewhere.
std::string pupilGaze(const std::string& name, double cx, double cy, int width, int height, int dense)
{
    std::string text = "gaze_timestamp,world_index,confidence,norm_pos_x,norm_pos_y,base_data\n";
    unsigned seed = 7;
    auto noise = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 8) % 2001) / 1000.0 - 1.0;
    };
    for (int i = 0; i < dense; ++i) {
        const double x = cx + 12 * noise(), y = cy + 12 * noise();
        text += std::to_string(i * 0.004) + "," + std::to_string(i / 8) + ",0.95," +
                std::to_string(x / width) + "," + std::to_string(1 - y / height) + ",\"1.2-0 1.3-1\"\n";
    }
    for (int i = 0; i < 20; ++i)
        text += "9.0,100,0.9," + std::to_string(0.1 + 0.01 * i) + ",0.2,\n";
    return writeFile(name, text);
}

// The pixel where the heat is reddest (red over green, the table's hot end).
std::pair<int, int> reddest(const Picture& p)
{
    size_t best = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3)
        if (p.rgb[i] - p.rgb[i + 1] > p.rgb[best] - p.rgb[best + 1])
            best = i;
    return {static_cast<int>(best / 3 % p.width), static_cast<int>(best / 3 / p.width)};
}

TEST(RenderCli, HeatmapShowsTheDensestPlaceHottestAndTheStimulusElsewhere)
{
    const std::string stimulus = writeStimulus("stimulus.png", 640, 400);
    const std::string data = pupilGaze("gaze_positions.csv", 480, 120, 640, 400, 3000);
    const std::string out = workDir() + "/heat.png";
    const Result run = render("heatmap --data " + data + " --stimulus " + stimulus + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture p = qvtest::readImage(out);
    ASSERT_EQ(p.width * 10000 + p.height, 640 * 10000 + 400);
    const auto hot = reddest(p);
    EXPECT_LT(std::hypot(hot.first - 480, hot.second - 120), 16) << hot.first << "," << hot.second;
    EXPECT_GT(p.at(hot.first, hot.second)[0], 180); // red
    EXPECT_LT(p.at(hot.first, hot.second)[1], 110);
    // Far from every point the stimulus shows as it is (both halves).
    EXPECT_NEAR(p.at(60, 350)[0], 20, 2);
    EXPECT_NEAR(p.at(60, 350)[2], 120, 2);
    EXPECT_NEAR(p.at(600, 380)[0], 200, 2);
    EXPECT_NEAR(p.at(600, 380)[2], 200, 2);
    EXPECT_EQ(leftoverTemporaries(), 0);
}

TEST(RenderCli, AggregateGivesEveryRecordingTheSameWeight)
{
    // One recording with many points, one with few: normalised, both places heat alike.
    const std::string a = pupilGaze("a_gaze_positions.csv", 150, 150, 600, 300, 4000);
    const std::string b = pupilGaze("b_gaze_positions.csv", 450, 150, 600, 300, 400);
    const std::string out = workDir() + "/aggregate.png";
    const Result run = render("aggregate --size 600x300 -o " + out + " " + a + " " + b);
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture p = qvtest::readImage(out);
    ASSERT_EQ(p.width, 600);
    const uint8_t *left = p.at(150, 150), *right = p.at(450, 150);
    EXPECT_GT(left[0], 150);
    EXPECT_NEAR(left[0], right[0], 40);
    EXPECT_NEAR(left[1], right[1], 40);
    // The grey field where nobody looked.
    EXPECT_NEAR(p.at(300, 20)[0], 128, 2);
}

TEST(RenderCli, MovieHasEveryFrameOfTheSceneVideoAtItsSizeAndRate)
{
    // A camera's NTSC rate: the movie keeps 30000/1001, not 30.
    const std::string video = workDir() + "/scene.mp4", out = workDir() + "/movie.mp4", probe = out + ".txt";
    const std::string scene = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=320x240:r=30000/1001 "
                              "-frames:v 40 -c:v libx264 -pix_fmt yuv420p ";
    ASSERT_EQ(sh(scene + video), 0);
    const std::string fixations =
        writeFile("fixations.csv", "id,start_timestamp,duration,start_frame_index,end_frame_index,"
                                   "norm_pos_x,norm_pos_y,dispersion,confidence,method,base_data\n"
                                   "1,0.1,200,2,7,0.25,0.75,1.1,0.9,pupil,\"a b\"\n"
                                   "2,0.5,300,12,20,0.75,0.25,1.0,0.9,pupil,\"c d\"\n");
    const Result run = render("movie --data " + fixations + " --video " + video + " -o " + out);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string ffprobe =
        QV_FFPROBE " -v error -count_frames -select_streams v:0 -show_entries "
                   "stream=codec_name,width,height,r_frame_rate,nb_read_frames -of csv=p=0 ";
    ASSERT_EQ(sh(ffprobe + out + " > " + probe), 0);
    EXPECT_EQ(qvtest::readFile(probe), "h264,320,240,30000/1001,40\n");
}

// A refused command: status 2, one line on stderr naming the fault, and no output.
void expectRefused(const std::string& args, const std::string& says, const std::string& output)
{
    const Result run = render(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(qvtest::countOf(run.err, "\n"), 1) << run.err;
    EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(output));
}

TEST(RenderCli, BadInputIsRefusedWithOneLineAndNoOutput)
{
    const std::string bad = workDir() + "/bad.png";
    const std::string okGaze = pupilGaze("ok_gaze_positions.csv", 30, 20, 64, 48, 50);
    const std::string gaze = "heatmap --data " + okGaze, sized = gaze + " --size 64x48";
    const std::string movie = "movie --data " + okGaze, data = "heatmap --size 64x48 --data ";
    const char binary[] = "\x00\x01\xff\xfe binary\x00\n\x07";
    const std::string junk = writeFile("junk.csv", std::string(binary, sizeof binary - 1));
    const std::string nans = writeFile("nan.csv", "1e999,5\nnan,3\ninf,-inf\n");
    const std::string hugeField = writeFile("huge.csv", "x,y\n" + std::string(32 << 20, 'a') + ",1\n");
    const std::string noColumn =
        writeFile("nocolumn_gaze.csv", "gaze_timestamp,world_index,confidence,norm_pos_x\n1,1,1,0.5\n");
    const std::string aoiBad = writeFile("aoi.json", "[{\"name\": \"a\", \"points\": [[1, 2], [3]]}]");
    const std::string corrupt = writeFile("corrupt.png", "\x89PNG\r\n\x1a\nnot really");
    // The arguments (with "-o <bad>" unless they name an output) and what the line says.
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "no command"},
        {"draw", "unknown command 'draw'"},
        {sized + " --colour red", "unknown option --colour"},
        {sized + " -o", "needs a value"},
        {gaze + " --size 64by48", "bad --size"},
        {sized + " --sigma -3", "bad --sigma"},
        {sized + " --format csv", "bad --format 'csv'"},
        {data + workDir() + "/none.csv", "none.csv"},
        {data + workDir(), "Is a directory"},
        {data + junk, "junk.csv"},
        {data + nans, "nan.csv"},
        {data + hugeField, "huge.csv"}, // a 32 MiB field
        {data + noColumn, "norm_pos_y"},
        {gaze + " --stimulus " + corrupt, "corrupt.png"},
        {sized + " --layers aoi --aoi " + aoiBad, "aoi.json"},
        {sized + " -o " + workDir() + "/x.jpg", ".png"},
        {sized + " -o /nonexistent/x.png", "/nonexistent"},
        {movie, "--video"},
        {movie + " --video " + junk + " -o " + workDir() + "/m.mp4", "junk.csv"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        std::remove(bad.c_str());
        const bool ownOutput =
            row.first.find(" -o") != std::string::npos || row.first.find(' ') == std::string::npos;
        expectRefused(row.first + (ownOutput ? "" : " -o " + bad), row.second, bad);
    }
    EXPECT_EQ(leftoverTemporaries(), 0);
}

// Under an X server (the ctest entry runs it in a private Xvfb): GLX draws
// what EGL draws, pixel for pixel.
TEST(RenderCliGlx, GlxAndEglRenderTheSamePicture)
{
    if (std::getenv("DISPLAY") == nullptr)
        GTEST_SKIP() << "needs an X display";
    const std::string stimulus = writeStimulus("glx.png", 320, 200);
    const std::string data = pupilGaze("glx_gaze_positions.csv", 100, 60, 320, 200, 500);
    const std::string egl = workDir() + "/egl.png", glx = workDir() + "/glx.png";
    const std::string args = "heatmap --layers heatmap,fixations --data " + data + " --stimulus " + stimulus;
    ASSERT_EQ(render(args + " -o " + egl).status, 0);
    ASSERT_EQ(render(args + " --gl glx -o " + glx).status, 0);
    EXPECT_EQ(qvtest::readImage(egl).rgb, qvtest::readImage(glx).rgb);
}

// The pid of a process of ours whose command line holds `needle`, or -1.
pid_t findProcess(const std::string& needle)
{
    for (const auto& e : fs::directory_iterator("/proc")) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e.path().filename().c_str()));
        std::string cmdline = qvtest::readFile(e.path().string() + "/cmdline");
        std::replace(cmdline.begin(), cmdline.end(), '\0', ' ');
        if (pid > 0 && cmdline.find(QV_RENDER) == 0 && cmdline.find(needle) != std::string::npos &&
            cmdline.find(" batch ") == std::string::npos)
            return pid;
    }
    return -1;
}

TEST(RenderBatch, AKilledWorkerFailsItsRowOnlyAndARerunRendersOnlyWhatIsMissing)
{
    const std::string dir = workDir() + "/batch";
    fs::create_directory(dir);
    pupilGaze("batch/a.csv", 100, 50, 200, 100, 200);
    pupilGaze("batch/b.csv", 50, 50, 200, 100, 200);
    // A worker reading a pipe nobody writes waits until it is killed.
    ASSERT_EQ(mkfifo((dir + "/stuck.csv").c_str(), 0644), 0);
    writeFile("batch/m.tsv", "id\tdata\tsize\nA\ta.csv\t200x100\nS\tstuck.csv\t200x100\nB\tb.csv\t200x100\n");
    const std::string errPath = dir + "/batch.err";
    FILE* batch = popen((QV_RENDER " batch " + dir + "/m.tsv --jobs 2 2>" + errPath).c_str(), "r");
    ASSERT_NE(batch, nullptr);
    pid_t stuck = -1;
    for (int i = 0; i < 600 && stuck < 0; ++i, usleep(50000))
        stuck = findProcess("stuck.csv");
    ASSERT_GT(stuck, 0);
    kill(stuck, SIGKILL);
    const int status = pclose(batch);
    const std::string err = qvtest::readFile(errPath);
    EXPECT_EQ(WEXITSTATUS(status), 1) << err;
    for (const char* says : {"row 1 (A): rendered", "row 2 (S): failed: the worker was killed by signal 9",
                             "row 3 (B): rendered"})
        EXPECT_NE(err.find(says), std::string::npos) << err;
    EXPECT_EQ(qvtest::readImage(dir + "/A.png").width, 200);
    EXPECT_EQ(qvtest::readImage(dir + "/B.png").width, 200);
    EXPECT_FALSE(fs::exists(dir + "/S.png"));

    // Up to date rows are skipped; a newer input or --force renders again.
    std::remove((dir + "/stuck.csv").c_str());
    writeFile("batch/m.tsv", "id\tdata\tsize\nA\ta.csv\t200x100\nB\tb.csv\t200x100\n");
    struct Rerun {
        const char *label, *options, *saysA, *saysB;
        bool touchB;
    };
    for (const Rerun& r : {Rerun{"nothing changed", "", "skipped", "skipped", false},
                           Rerun{"b.csv newer", "", "skipped", "rendered", true},
                           Rerun{"forced", "--force", "rendered", "rendered", false}}) {
        SCOPED_TRACE(r.label);
        if (r.touchB) {
            sleep(1); // a second newer than its output, on any file system's clock
            pupilGaze("batch/b.csv", 60, 50, 200, 100, 200);
        }
        const Result run = render("batch " + dir + "/m.tsv " + r.options);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(std::string("row 1 (A): ") + r.saysA), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(std::string("row 2 (B): ") + r.saysB), std::string::npos) << run.err;
    }
}
TEST(RenderBatch, AMalformedManifestIsRefusedBeforeAnythingRuns)
{
    pupilGaze("m_ok.csv", 30, 20, 64, 48, 50);
    const std::string one = "id\tdata\tsize\nx\tm_ok.csv\t64x48\n";
    // The manifest, what the line says, and further arguments.
    const std::vector<std::array<std::string, 3>> rows = {
        {"id\tdata\tsize\tcolour\nx\tm_ok.csv\t64x48\tred\n", ":1: column \"colour\": unknown column"},
        {"data\tsize\nm_ok.csv\t64x48\n", ":1: column \"id\": missing"},
        {one + "x\tm_ok.csv\t32x24\n", ":3: column \"id\": 'x' is used"},
        {one + "y\tgone.csv\t64x48\n", ":3: column \"data\":"},
        {"id\tdata\tsize\tsigma\nx\tm_ok.csv\t64x48\tlots\n", ":2: column \"sigma\": bad --sigma"},
        {"id\tdata\tsize\tout\nx\tm_ok.csv\t64x48\to.png\ny\tm_ok.csv\t64x48\to.png\n",
         ":3: column \"out\":"},
        {"id\tcommand\tdata\nx\tdraw\tm_ok.csv\n", ":2: column \"command\": 'draw'"},
        {one, "row 2 asked for, the manifest has 1", " --index 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        expectRefused("batch " + writeFile("refused.tsv", row[0]) + row[2], row[1], workDir() + "/x.png");
    }
}

} // namespace
