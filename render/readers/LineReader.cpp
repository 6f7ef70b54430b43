#include "LineReader.h"

#include <cerrno>
#include <cstring>

namespace qvr {

LineReader::LineReader(size_t maxLineBytes) : buffer_(size_t(64) << 10), maxLineBytes_(maxLineBytes) { }

LineReader::~LineReader()
{
    if (file_ != nullptr)
        std::fclose(file_);
}

bool LineReader::open(const std::string& path)
{
    errno = 0;
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr)
        error_ = errno != 0 ? errno : ENOENT;
    return file_ != nullptr;
}

bool LineReader::refill()
{
    if (atEnd_ || file_ == nullptr)
        return false;
    errno = 0;
    pos_ = 0;
    end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    if (end_ > 0)
        return true;
    atEnd_ = true;
    if (std::ferror(file_))
        error_ = errno != 0 ? errno : EIO; // a directory fails here with EISDIR
    return false;
}

LineReader::Status LineReader::next(std::string& line)
{
    line.clear();
    bool tooLong = false;
    bool any = false;
    for (;;) {
        if (pos_ == end_ && !refill()) {
            if (error_ != 0)
                return Status::Error;
            if (!any)
                return Status::End;
            break; // a last line without a newline
        }
        any = true;
        const char* start = buffer_.data() + pos_;
        const size_t available = end_ - pos_;
        const char* newline = static_cast<const char*>(std::memchr(start, '\n', available));
        const size_t take = newline != nullptr ? size_t(newline - start) : available;
        if (!tooLong && line.size() + take > maxLineBytes_) {
            tooLong = true;
            line.clear();
        }
        if (!tooLong)
            line.append(start, take);
        pos_ += take + (newline != nullptr ? 1 : 0);
        if (newline != nullptr)
            break;
    }
    if (tooLong)
        return Status::TooLong;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return Status::Line;
}

} // namespace qvr
