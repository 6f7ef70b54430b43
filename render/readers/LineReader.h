// Reads a file line by line through a fixed buffer, so a file of any size costs at most one
// line of memory.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace qvr {

class LineReader {
public:
    enum class Status { Line, TooLong, End, Error };

    explicit LineReader(size_t maxLineBytes);
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    bool open(const std::string& path); // false: error() holds the errno
    // The next line without its "\n" or "\r\n". TooLong: the line was longer than the cap; it
    // is consumed but not returned. Error: a read failed (error() holds the errno).
    Status next(std::string& line);
    int error() const { return error_; }

private:
    bool refill();

    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    size_t pos_ = 0, end_ = 0;
    size_t maxLineBytes_;
    int error_ = 0;
    bool atEnd_ = false;
};

} // namespace qvr
