// Process-level helpers shared by the native tests: standard output of one
// scope, a command's output, a file's bytes, an ffprobe of a movie, and the
// check that no child is left a zombie.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#ifndef QV_PROBE_PROGRAM
#define QV_PROBE_PROGRAM "ffprobe"
#endif

namespace qvtest {

// Standard output of one scope (the video side and the export report there).
// GoogleTest prints failures there too, so on failure the capture goes to stderr.
class CapturedStdout {
public:
    CapturedStdout() { testing::internal::CaptureStdout(); }
    ~CapturedStdout()
    {
        if (!take().empty() && testing::Test::HasFailure())
            fprintf(stderr, "%s", text_.c_str());
    }
    const std::string& take()
    {
        if (!taken_)
            text_ = testing::internal::GetCapturedStdout();
        taken_ = true;
        return text_;
    }

private:
    bool taken_ = false;
    std::string text_;
};

inline int countOf(const std::string& text, const std::string& needle)
{
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

inline std::string readFile(const std::string& path)
{
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// What a shell command writes to standard output.
inline std::string commandOutput(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    char buffer[1 << 16];
    for (size_t n; p != nullptr && (n = fread(buffer, 1, sizeof buffer, p)) > 0;)
        out.append(buffer, n);
    if (p != nullptr)
        pclose(p);
    return out;
}

// ffprobe's answer for the first video stream: "stream=..." / "format=..." entries by name.
inline std::map<std::string, std::string> probeMovie(const std::string& movie, const std::string& entries)
{
    std::istringstream lines(commandOutput(std::string(QV_PROBE_PROGRAM) +
                                           " -v error -count_frames -select_streams v:0 -show_entries " +
                                           entries + " -of default=nw=1 '" + movie + "'"));
    std::map<std::string, std::string> fields;
    for (std::string line; std::getline(lines, line);)
        if (line.find('=') != std::string::npos)
            fields[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    return fields;
}

// True when no child of this process has ended unreaped.
inline bool noZombieChild() { return waitpid(-1, nullptr, WNOHANG) <= 0; }

} // namespace qvtest
