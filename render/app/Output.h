// Where a render's result goes: a temporary name beside OUT, renamed onto OUT
// only when the file is complete, so a failed or killed render leaves no
// half-written OUT. The frame buffer is read back here too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvr {

class PendingOutput {
public:
    // Removes the temporary file on SIGINT, SIGTERM and SIGHUP too.
    explicit PendingOutput(const std::string& out);
    ~PendingOutput(); // removes the temporary file unless committed
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    const std::string& temporary() const { return m_temp; }
    // Renames the temporary file onto OUT.
    bool commit(std::string& error);

private:
    std::string m_out, m_temp;
    bool m_done = false;
};

// Whether OUT's folder exists and takes new files; `error` says why not.
bool outputWritable(const std::string& out, std::string& error);
// The file's extension, lower case, with its dot ("" when none).
std::string extensionOf(const std::string& path);

// The bound read frame buffer's width x height pixels, B G R A, bottom row first.
void readFrame(int width, int height, std::vector<uint8_t>& bgra);
// Writes B G R A bottom-up pixels as an 8-bit RGB PNG.
bool savePng(const std::string& path, const std::vector<uint8_t>& bgra, int width, int height,
             std::string& error);

} // namespace qvr
