// Progress on stderr: a bar on a terminal, one line per 10 % otherwise (a log).
#pragma once

#include <string>

namespace qvr {

class Progress {
public:
    // `total` 0 when unknown: then only counts are shown.
    Progress(std::string what, long total);
    void update(long done);
    void finish(long done);

private:
    std::string m_what;
    long m_total;
    bool m_terminal;
    int m_lastTenth = 0;
    int m_lastWidth = -1;
};

} // namespace qvr
