// The test binaries define openlog/syslog themselves, so what the library
// sends to the system log is captured and checked rather than trusted.
#pragma once

#include <string>
#include <vector>

namespace qvtest {

struct SyslogRecord {
    int priority;
    std::string text;
};

struct OpenlogRecord {
    std::string ident;
    int option;
    int facility;
};

std::vector<SyslogRecord> syslogLines();
std::vector<OpenlogRecord> openlogCalls();
void clearSyslog();
// True when some captured line contains `needle`.
bool syslogContains(const std::string& needle);

} // namespace qvtest
