// What the benches print about the machine their figures were measured on.
#pragma once

#include <fstream>
#include <string>

namespace qvbench {

// The first "model name" of /proc/cpuinfo, or "unknown".
inline std::string cpuModel()
{
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    return "unknown";
}

} // namespace qvbench
