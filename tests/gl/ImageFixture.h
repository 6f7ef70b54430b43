// Images written at test time with FreeImage, and a fixture that leaves the
// context's texture manager empty so no test sees another's cache.
#pragma once

#include "gl/TextureManager.h"
#include "support/GlState.h"
#include "support/Images.h"
#include "support/ScriptedGlErrors.h"
#include "support/SyslogCapture.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace qvtest {

inline PixelFn solid(Rgba c)
{
    return [c](int, int) { return c; };
}

// Red, green / blue, white quadrants.
inline PixelFn quadrants(int w, int h)
{
    return [w, h](int x, int y) {
        const bool right = x >= w / 2, bottom = y >= h / 2;
        return bottom ? (right ? kWhite : kBlue) : (right ? kGreen : kRed);
    };
}

// Resident-size bounds in the plain build only: under ASan its quarantine and shadow are measured.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kChecksResidentSize = false;
#else
constexpr bool kChecksResidentSize = true;
#endif

// KiB by which the peak resident size passes the current one while `f` runs (VmHWM reset
// through clear_refs 5); LONG_MAX, which no bound admits, when /proc cannot tell.
inline long peakGrowthKiB(const std::function<void()>& f)
{
    const auto kib = [](const std::string& key) {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.compare(0, key.size(), key) == 0)
                return std::atol(line.c_str() + key.size());
        return -1L;
    };
    const long before = kib("VmRSS:");
    const bool reset = static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
    f();
    const long peak = kib("VmHWM:");
    return reset && before >= 0 && peak >= 0 ? peak - before : LONG_MAX;
}

class ImageTest : public GlTest {
protected:
    void SetUp() override
    {
        GlTest::SetUp();
        char pattern[] = "/tmp/qvimagesXXXXXX";
        const char* made = mkdtemp(pattern);
        ASSERT_NE(made, nullptr);
        dir_ = made;
        manager_ = TextureManager::getInstance();
        ASSERT_NE(manager_, nullptr);
        manager_->UnloadAllTextures();
        manager_->clearLargeTexture();
        clearSyslog();
    }
    void TearDown() override
    {
        if (manager_ != nullptr) {
            manager_->UnloadAllTextures();
            manager_->clearLargeTexture();
        }
        if (!dir_.empty() && std::system(("rm -rf '" + dir_ + "'").c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << dir_;
        GlTest::TearDown();
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    TextureManager& manager() { return *manager_; }
    void clear()
    {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }

private:
    std::string dir_;
    TextureManager* manager_ = nullptr;
};

} // namespace qvtest
