#include "app/Progress.h"

#include <cstdio>
#include <unistd.h>

namespace qvr {

Progress::Progress(std::string what, long total)
    : m_what(std::move(what)), m_total(total), m_terminal(isatty(STDERR_FILENO) == 1)
{ }

void Progress::update(long done)
{
    if (m_total <= 0) {
        if (m_terminal && done % 25 == 0)
            std::fprintf(stderr, "\r%s: %ld frames", m_what.c_str(), done);
        return;
    }
    const long clamped = done < m_total ? done : m_total;
    if (m_terminal) {
        const int width = static_cast<int>(40 * clamped / m_total);
        if (width == m_lastWidth)
            return;
        m_lastWidth = width;
        std::fprintf(stderr, "\r%s [%-40.*s] %3ld%%", m_what.c_str(), width,
                     "########################################", 100 * clamped / m_total);
        return;
    }
    const int tenth = static_cast<int>(10 * clamped / m_total);
    for (; m_lastTenth < tenth; ++m_lastTenth)
        std::fprintf(stderr, "%s: %d%% (%ld of %ld)\n", m_what.c_str(), (m_lastTenth + 1) * 10, clamped,
                     m_total);
}

void Progress::finish(long done)
{
    if (m_terminal)
        std::fprintf(stderr, "\r%s: %ld frames done%20s\n", m_what.c_str(), done, "");
}

} // namespace qvr
