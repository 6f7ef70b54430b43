#include "Fields.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace qvr {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

void splitBlanks(std::string_view line, std::vector<std::string>& fields)
{
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        const size_t start = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > start)
            fields.emplace_back(line.substr(start, i - start));
    }
}

// One quoted field from just after its opening quote; `i` ends on the delimiter or the end.
bool readQuoted(std::string_view line, char delimiter, size_t& i, std::string& field)
{
    for (;;) {
        if (i >= line.size())
            return false;
        const char c = line[i++];
        if (c != '"') {
            field += c;
        } else if (i < line.size() && line[i] == '"') {
            field += '"';
            ++i;
        } else {
            break;
        }
    }
    // Text between the closing quote and the delimiter is kept, as spreadsheets do.
    while (i < line.size() && line[i] != delimiter)
        field += line[i++];
    return true;
}

} // namespace

char delimiterOf(std::string_view line)
{
    if (line.find('\t') != std::string_view::npos)
        return '\t';
    return line.find(',') != std::string_view::npos ? ',' : ' ';
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool splitRow(std::string_view line, char delimiter, std::vector<std::string>& fields)
{
    fields.clear();
    if (delimiter == ' ') {
        splitBlanks(line, fields);
        return true;
    }
    size_t i = 0;
    for (;;) {
        size_t start = i;
        while (start < line.size() && line[start] == ' ')
            ++start;
        std::string field;
        if (start < line.size() && line[start] == '"') {
            i = start + 1;
            if (!readQuoted(line, delimiter, i, field))
                return false;
        } else {
            i = std::min(line.find(delimiter, start), line.size());
            field.assign(line.substr(start, i - start));
        }
        fields.emplace_back(trim(field));
        if (i >= line.size())
            return true;
        ++i; // the delimiter
    }
}

bool parseNumber(std::string_view text, bool decimalComma, double& value)
{
    text = trim(text);
    const bool plus = !text.empty() && text.front() == '+';
    if (plus)
        text.remove_prefix(1); // from_chars takes no plus sign
    if (text.empty() || (plus && text.front() == '-'))
        return false;
    char copy[128];
    if (decimalComma && text.find(',') != std::string_view::npos) {
        if (text.size() > sizeof copy)
            return false;
        for (size_t i = 0; i < text.size(); ++i)
            copy[i] = text[i] == ',' ? '.' : text[i];
        text = std::string_view(copy, text.size());
    }
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && std::isfinite(value);
}

bool parseInteger(std::string_view text, long& value)
{
    text = trim(text);
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

} // namespace qvr
