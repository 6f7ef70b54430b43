#include "SyslogCapture.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qvtest {
namespace {
std::mutex mutex;
std::vector<SyslogRecord>& lines()
{
    static std::vector<SyslogRecord> v;
    return v;
}
std::vector<OpenlogRecord>& opens()
{
    static std::vector<OpenlogRecord> v;
    return v;
}
void record(int priority, const char* format, va_list args)
{
    char buffer[4096];
    vsnprintf(buffer, sizeof buffer, format, args);
    std::lock_guard<std::mutex> lock(mutex);
    lines().push_back({priority, buffer});
}
} // namespace

std::vector<SyslogRecord> syslogLines()
{
    std::lock_guard<std::mutex> lock(mutex);
    return lines();
}
std::vector<OpenlogRecord> openlogCalls()
{
    std::lock_guard<std::mutex> lock(mutex);
    return opens();
}
void clearSyslog()
{
    std::lock_guard<std::mutex> lock(mutex);
    lines().clear();
    opens().clear();
}
bool syslogContains(const std::string& needle)
{
    for (const SyslogRecord& r : syslogLines())
        if (r.text.find(needle) != std::string::npos)
            return true;
    return false;
}

} // namespace qvtest

// Interposed over libc's: the executable's definitions come first in symbol lookup.
extern "C" {
void openlog(const char* ident, int option, int facility)
{
    std::lock_guard<std::mutex> lock(qvtest::mutex);
    qvtest::opens().push_back({ident != nullptr ? ident : "", option, facility});
}
void syslog(int priority, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    qvtest::record(priority, format, args);
    va_end(args);
}
void __syslog_chk(int priority, int, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    qvtest::record(priority, format, args);
    va_end(args);
}
void closelog() { }
}
