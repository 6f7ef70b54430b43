// The recording readers of quorvex-render, on files each test writes to a folder of its own.
#include "readers/Recording.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace fs = std::filesystem;

namespace {

const double kNoTime = std::numeric_limits<double>::quiet_NaN();

class Readers : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(dir_); }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::string& name, const std::string& text)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    const fs::path dir_ = fs::temp_directory_path() / ("qv_readers_" + std::to_string(getpid()));
};

qvr::ReadOptions options(double width = 0, double height = 0, qvr::Source source = qvr::Source::Auto)
{
    qvr::ReadOptions o;
    o.width = width;
    o.height = height;
    o.source = source;
    return o;
}

struct ReadCase {
    const char* what;
    qvr::Format format;
    qvr::Source source;
    size_t count, skipped;
    qvr::Sample first;
    qvr::ReadOptions options;
    std::string text;
};

const std::string kPupilFix =
    "id,start_timestamp,duration,start_frame_index,end_frame_index,norm_pos_x,norm_pos_y,"
    "dispersion,confidence,method,base_data\n";
const std::string kPupilGaze = "gaze_timestamp,world_index,confidence,base_data,norm_pos_x,norm_pos_y\n";
const std::string kTobii =
    "Recording timestamp\tEye movement type\tGaze event duration\tEye movement type index\t"
    "Fixation point X\tFixation point Y\tGaze point X\tGaze point Y\n";
// base_data of a long Pupil row: spaces, commas and "" escapes, about 300 KB.
const std::string kLongBase = "\"" + std::string(20000, ' ') + [] {
    std::string s;
    for (int i = 0; i < 20000; ++i)
        s += "0.9-1 {\"\"k\"\": 1, 2} ";
    return s;
}() + "\"";

TEST_F(Readers, ReadEachFormat)
{
    using F = qvr::Format;
    using S = qvr::Source;
    const ReadCase cases[] = {
        {"pupil fixation, origin flipped", F::Pupil, S::Fixations, 1, 0, qvr::Sample{250, 200, 240, 12.5, 30},
         options(1000, 800), kPupilFix + "1,12.5,240.0,30,37,0.25,0.75,1.2,0.9,pupil,\"1.0-0 1.1-0\"\n"},
        {"pupil gaze, quoted base_data before the positions, low confidence skipped", F::Pupil, S::Gaze, 1, 1,
         qvr::Sample{50, 75, 0, 2.0, 6}, options(100, 100),
         kPupilGaze + "1.0,5,0.3,\"a, b\",0.5,0.5\n2.0,6,0.95," + kLongBase + ",0.5,0.25\n"},
        {"pupil surface fixations, on_surf False skipped", F::Pupil, S::Fixations, 1, 1,
         qvr::Sample{20, 0, 150, 3.4}, options(200, 100),
         "world_timestamp,fixation_id,start_timestamp,duration,dispersion,norm_pos_x,norm_pos_y,on_surf\n"
         "3.0,1,2.9,100,1,0.5,0.5,False\n3.5,2,3.4,150,1,0.1,1.0,True\n"},
        {"neon fixations, ns times", F::Neon, S::Fixations, 1, 0, qvr::Sample{812.5, 400, 200, 1636035466.5},
         options(),
         "section id,recording id,fixation id,start timestamp [ns],end timestamp [ns],duration [ms],"
         "fixation x [px],fixation y [px]\ns,r,1,1636035466500000000,1636035466700000000,200,812.5,400\n"},
        {"neon gaze", F::Neon, S::Gaze, 1, 0, qvr::Sample{10, 20, 0, 1.5}, options(),
         "section id,recording id,timestamp [ns],gaze x [px],gaze y [px],worn\ns,r,1500000000,10,20,1\n"},
        {"tobii fixation spanning rows counted once", F::Tobii, S::Fixations, 2, 0,
         qvr::Sample{512, 384, 250, 0.13}, options(),
         kTobii + "100\tSaccade\t30\t1\t\t\t5\t5\n130\tFixation\t250\t1\t512\t384\t510\t380\n"
                  "147\tFixation\t250\t1\t512\t384\t514\t386\n163\tFixation\t250\t1\t512\t384\t512\t385\n"
                  "380\tEyesNotFound\t20\t1\t\t\t\t\n400\tFixation\t120\t2\t600\t300\t600\t300\n"},
        {"tobii gaze with decimal commas, empty cells skipped", F::Tobii, S::Gaze, 1, 1,
         qvr::Sample{510.5, 380.75, 0, 0.117}, options(0, 0, S::Gaze),
         kTobii +
             "100\tFixation\t250\t1\t512,5\t384,25\t\t\n117\tFixation\t250\t1\t512,5\t384,25\t510,5\t380,75\n"},
        {"eyelink, '.' is missing", F::EyeLink, S::Fixations, 1, 1, qvr::Sample{640.5, 480, 180, 0.35},
         options(),
         "RECORDING_SESSION_LABEL,TRIAL_INDEX,CURRENT_FIX_X,CURRENT_FIX_Y,CURRENT_FIX_START,CURRENT_FIX_DURATION\n"
         "s1,1,.,.,100,200\ns1,1,640.5,480,350,180\n"},
        {"xy without duration", F::XY, S::Gaze, 2, 0, qvr::Sample{512, 384, 0, kNoTime}, options(),
         "512 384\n600\t 400\n"},
        {"xy with duration and time", F::XY, S::Fixations, 2, 0, qvr::Sample{512.5, 384, 250, 1.0}, options(),
         "512.5,384,250,1000\n600,400,100,1250\n"},
        {"BOM and CRLF", F::Neon, S::Fixations, 1, 0, qvr::Sample{10, 20, 30, kNoTime}, options(),
         "\xEF\xBB\xBF"
         "fixation x [px],fixation y [px],duration [ms]\r\n10,20,30\r\n"},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        qvr::Recording rec;
        std::string error;
        ASSERT_TRUE(qvr::readRecording(write("in.csv", c.text), c.options, rec, error)) << error;
        EXPECT_EQ(rec.format, c.format);
        EXPECT_EQ(rec.source, c.source);
        ASSERT_EQ(rec.samples.size(), c.count);
        EXPECT_EQ(rec.skippedRows, c.skipped);
        const qvr::Sample& s = rec.samples[0];
        EXPECT_DOUBLE_EQ(s.x, c.first.x);
        EXPECT_DOUBLE_EQ(s.y, c.first.y);
        EXPECT_DOUBLE_EQ(s.durationMs, c.first.durationMs);
        if (!std::isnan(c.first.timeS) || !std::isnan(s.timeS)) { // NaN: the file has no times
            EXPECT_DOUBLE_EQ(s.timeS, c.first.timeS);
        }
        EXPECT_EQ(s.frame, c.first.frame);
    }
}

TEST_F(Readers, ErrorsNameFileLineAndColumn)
{
    struct ErrorCase {
        const char* name; // nullptr: the test folder itself
        const char* text; // nullptr: no such file
        qvr::ReadOptions options;
        std::string message; // after the path
    };
    const ErrorCase cases[] = {
        {"none.csv", nullptr, options(), ": cannot read: No such file or directory"},
        {nullptr, nullptr, options(), ": cannot read: Is a directory"},
        {"empty.csv", "", options(), ": the file is empty"},
        {"odd.csv", "a,b,c\n1,2,3\n", options(),
         ":1: header of no known format (tried pupil, neon, tobii, eyelink, xy)"},
        {"fix.csv", "start_timestamp,duration,norm_pos_y\n1,2,3\n", options(10, 10),
         ":1: column \"norm_pos_x\" is missing"},
        {"fix.csv", "start_timestamp,duration,norm_pos_x,norm_pos_y\n1,2,0.5,0.5\n", options(),
         ":1: positions are normalised (norm_pos_x/y): the stimulus width and height are needed"},
        {"gaze.csv", "gaze_timestamp,confidence,norm_pos_x,norm_pos_y\n1,0.1,0.5,0.5\n1,x,0.5,0.5\n",
         options(10, 10), ": no usable row (2 skipped)"},
        {"gaze.csv", "gaze_timestamp,norm_pos_x,norm_pos_y\n1,0.5,0.5\n",
         options(10, 10, qvr::Source::Fixations), ":1: column \"duration\" is missing"},
        {"report.txt", "CURRENT_FIX_X\tCURRENT_FIX_Y\tCURRENT_FIX_DURATION\n1\t2\t3\n",
         options(0, 0, qvr::Source::Gaze),
         ":1: an EyeLink fixation report holds fixations and cannot give gaze"},
        {"xy.txt", "1 2\n", options(0, 0, qvr::Source::Fixations),
         ":1: no duration column (x, y, duration) for fixations"},
    };
    for (const ErrorCase& c : cases) {
        const std::string path = c.name == nullptr   ? dir_.string()
                                 : c.text == nullptr ? (dir_ / c.name).string()
                                                     : write(c.name, c.text);
        SCOPED_TRACE(path);
        qvr::Recording rec;
        std::string error;
        EXPECT_FALSE(qvr::readRecording(path, c.options, rec, error));
        EXPECT_EQ(error, path + c.message);
        EXPECT_TRUE(rec.samples.empty());
    }
}

// Bad bytes give a result or one error line, never a crash, a hang or a read past a buffer.
TEST_F(Readers, HostileInputIsSkippedOrRefused)
{
    struct HostileCase {
        const char* what;
        std::string text;
        qvr::ReadOptions options;
        size_t count, skipped; // count 0: refused
    };
    const std::string nuls("\0\x01\xff\n\0,\0\n\xef\xbb", 10);
    const HostileCase cases[] = {
        {"a field longer than a line may be", "1,2\n3," + std::string(qvr::kMaxLineBytes, '7') + "\n5,6\n",
         options(), 2, 1},
        {"binary junk with NULs", nuls + nuls, options(), 0, 0},
        {"NULs inside a row", "1,2\n3," + std::string("\0", 1) + "\n", options(), 1, 1},
        {"NaN, inf, out of range, overflow after scaling",
         kPupilGaze +
             "1,1,1,b,nan,0.5\n1,1,1,b,inf,0.5\n1,1,1,b,1e309,0.5\n1,1,1,b,1e308,0.5\n1,1,1,b,0.5,0.5\n",
         options(10, 10), 1, 4},
        {"unclosed quote and too few fields", kPupilGaze + "1,1,1,\"b,0.5,0.5\n1,1\n1,1,1,b,0.5,0.5\n",
         options(10, 10), 1, 2},
        {"no newline at all", "1e3,-2e2", options(), 1, 0},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        qvr::Recording rec;
        std::string error;
        const std::string path = write("in.csv", c.text);
        const bool ok = qvr::readRecording(path, c.options, rec, error);
        EXPECT_EQ(ok, c.count > 0) << error;
        EXPECT_EQ(rec.samples.size(), c.count);
        EXPECT_EQ(rec.skippedRows, c.skipped);
        if (!ok) {
            EXPECT_EQ(error.rfind(path + ":", 0), 0u) << error;
        }
    }
}

} // namespace
