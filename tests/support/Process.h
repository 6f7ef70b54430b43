// Process-level helpers of the native tests: standard output of one scope, a file's bytes, and
// the check that no child is left a zombie.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace qvtest {

// Standard output of one scope (the video side and the export report there); kept on a failure.
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

// True when no child of this process has ended unreaped.
inline bool noZombieChild() { return waitpid(-1, nullptr, WNOHANG) <= 0; }

} // namespace qvtest
