#include "app/Aoi.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qvr {

namespace {

// A reader of exactly the JSON an AOI file needs (arrays, objects, strings,
// numbers; other values are skipped), reporting the line of the first fault.
struct Json {
    explicit Json(const std::string& t) : text(t) { }
    const std::string& text;
    size_t at = 0;
    std::string fault;

    int line() const
    {
        int n = 1;
        for (size_t i = 0; i < at && i < text.size(); ++i)
            n += text[i] == '\n';
        return n;
    }
    bool fail(const std::string& what)
    {
        if (fault.empty())
            fault = "line " + std::to_string(line()) + ": " + what;
        return false;
    }
    void space()
    {
        while (at < text.size() && std::strchr(" \t\r\n", text[at]) != nullptr)
            ++at;
    }
    bool take(char c)
    {
        space();
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    bool expect(char c) { return take(c) || fail(std::string("expected '") + c + "'"); }
    bool peek(char c)
    {
        space();
        return at < text.size() && text[at] == c;
    }
    bool string(std::string& out)
    {
        if (!expect('"'))
            return false;
        out.clear();
        while (at < text.size() && text[at] != '"') {
            char c = text[at++];
            if (c == '\\' && at < text.size()) {
                const char e = text[at++];
                c = e == 'n' ? '\n' : e == 't' ? '\t' : e;
                if (e == 'u') { // kept as written: names are labels, not keys
                    out += "\\u";
                    continue;
                }
            }
            out += c;
        }
        return expect('"');
    }
    bool number(double& out)
    {
        space();
        const char* start = text.c_str() + at;
        char* end = nullptr;
        errno = 0;
        out = std::strtod(start, &end);
        if (end == start || errno != 0 || !std::isfinite(out))
            return fail("expected a finite number");
        at += static_cast<size_t>(end - start);
        return true;
    }
    // Skips one value of any kind (a field this file does not use).
    bool skip(int depth = 0)
    {
        if (depth > 64)
            return fail("nested too deeply");
        std::string s;
        double d;
        if (peek('"'))
            return string(s);
        if (take('[') || take('{')) {
            const char close = text[at - 1] == '[' ? ']' : '}';
            if (take(close))
                return true;
            do {
                if (close == '}' && !(string(s) && expect(':')))
                    return false;
                if (!skip(depth + 1))
                    return false;
            } while (take(','));
            return expect(close);
        }
        for (const char* word : {"true", "false", "null"})
            if (text.compare(at, std::strlen(word), word) == 0) {
                at += std::strlen(word);
                return true;
            }
        return number(d);
    }
    bool point(Aoi& aoi)
    {
        double x, y;
        if (!(expect('[') && number(x) && expect(',') && number(y) && expect(']')))
            return false;
        aoi.xs.push_back(static_cast<float>(x));
        aoi.ys.push_back(static_cast<float>(y));
        return true;
    }
    bool area(Aoi& aoi)
    {
        if (!expect('{'))
            return false;
        bool hasPoints = false;
        if (!take('}')) {
            do {
                std::string key;
                if (!(string(key) && expect(':')))
                    return false;
                if (key == "name") {
                    if (!string(aoi.name))
                        return false;
                } else if (key == "points") {
                    hasPoints = true;
                    if (!expect('['))
                        return false;
                    if (!take(']')) {
                        do
                            if (!point(aoi))
                                return false;
                        while (take(','));
                        if (!expect(']'))
                            return false;
                    }
                } else if (!skip()) {
                    return false;
                }
            } while (take(','));
            if (!expect('}'))
                return false;
        }
        if (!hasPoints || aoi.xs.size() < 3)
            return fail("an area needs \"points\" with three [x, y] pairs or more");
        return true;
    }
};

} // namespace

bool readAois(const std::string& path, std::vector<Aoi>& out, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    if (!in || !(content << in.rdbuf())) {
        error = path + ": cannot read: " + std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    const std::string text = content.str();
    Json json(text);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        json.at = 3;
    out.clear();
    bool ok = json.expect('[');
    if (ok && !json.take(']')) {
        do {
            out.emplace_back();
            ok = json.area(out.back());
        } while (ok && json.take(','));
        ok = ok && json.expect(']');
    }
    json.space();
    if (ok && json.at != text.size())
        ok = json.fail("text after the list of areas");
    if (!ok) {
        error = path + ": " + json.fault;
        return false;
    }
    return true;
}

} // namespace qvr
