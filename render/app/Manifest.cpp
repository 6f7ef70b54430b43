#include "app/Manifest.h"

#include "app/Options.h"
#include "readers/Fields.h"
#include "readers/LineReader.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace qvr {

namespace {

// Columns that name files (relative to the manifest's folder) and columns
// that are the commands' options of the same name.
const char* const kFileColumns[] = {"data", "stimulus", "video", "aoi"};
const std::set<std::string> kOptionColumns = {"format", "source",      "sigma",          "weight", "alpha",
                                              "layers", "time-offset", "min-confidence", "size",   "gl"};
const std::set<std::string> kFlagColumns = {"no-normalise", "verbose"};

std::string folderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string resolve(const std::string& folder, const std::string& path)
{
    return path.empty() || path[0] == '/' ? path : folder + "/" + path;
}

std::vector<std::string> splitList(const std::string& list)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t semi = list.find(';', start);
        const std::string item(
            trim(list.substr(start, semi == std::string::npos ? std::string::npos : semi - start)));
        if (!item.empty())
            items.push_back(item);
        if (semi == std::string::npos)
            break;
        start = semi + 1;
    }
    return items;
}

bool isTrue(const std::string& v)
{
    return v == "1" || v == "true" || v == "yes" || v == "TRUE" || v == "True";
}

struct RowBuilder {
    const std::string& manifest;
    const std::string& folder;
    const std::string& outDir;
    std::string& error;

    bool fail(int line, const std::string& column, const std::string& what)
    {
        error = manifest + ":" + std::to_string(line) + ": column \"" + column + "\": " + what;
        return false;
    }

    bool build(int line, const std::vector<std::string>& header, const std::vector<std::string>& cells,
               BatchRow& row)
    {
        std::map<std::string, std::string> cell;
        for (size_t i = 0; i < header.size(); ++i)
            cell[header[i]] = i < cells.size() ? cells[i] : "";
        row.id = cell["id"];
        if (row.id.empty())
            return fail(line, "id", "empty");
        std::string command = cell["command"];
        if (command.empty())
            command = cell["video"].empty() ? "heatmap" : "movie";
        if (command != "heatmap" && command != "movie" && command != "aggregate")
            return fail(line, "command", "'" + command + "' is not heatmap, movie or aggregate");
        row.args = {command};
        for (const char* column : kFileColumns) {
            const std::vector<std::string> files = column == std::string("data")
                                                       ? splitList(cell[column])
                                                       : std::vector<std::string>{cell[column]};
            for (const std::string& given : files) {
                if (given.empty())
                    continue;
                const std::string path = resolve(folder, given);
                struct stat st;
                if (stat(path.c_str(), &st) != 0)
                    return fail(line, column, path + ": " + std::strerror(errno));
                if (S_ISDIR(st.st_mode))
                    return fail(line, column, path + ": is a folder");
                row.inputs.push_back(path);
                if (command == "aggregate" && column == std::string("data"))
                    row.args.push_back(path);
                else
                    row.args.insert(row.args.end(), {"--" + std::string(column), path});
            }
        }
        for (const auto& [column, value] : cell) {
            if (value.empty())
                continue;
            if (kOptionColumns.count(column) != 0)
                row.args.insert(row.args.end(), {"--" + column, value});
            else if (kFlagColumns.count(column) != 0 && isTrue(value))
                row.args.push_back("--" + column);
        }
        const std::string extension = command == "movie" ? ".mp4" : ".png";
        row.output = cell["out"].empty() ? resolve(outDir, row.id + extension) : resolve(outDir, cell["out"]);
        row.args.insert(row.args.end(), {"-o", row.output});
        return check(line, row);
    }

    // The render's own parser sees the row now, so a bad value stops the
    // batch before anything runs.
    bool check(int line, const BatchRow& row)
    {
        std::vector<std::string> argv = {"quorvex-render"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        std::vector<char*> pointers;
        for (std::string& a : argv)
            pointers.push_back(a.data());
        Options options;
        std::string why;
        if (parseOptions(static_cast<int>(pointers.size()), pointers.data(), options, why) ==
            ParseResult::Run)
            return true;
        // The option the parser names is the column of the same name.
        std::string column = "command";
        for (const std::string& c : kOptionColumns)
            if (why.find("--" + c + " ") != std::string::npos ||
                why.find("--" + c + "'") != std::string::npos)
                column = c;
        return fail(line, column, why);
    }
};

} // namespace

bool readManifest(const std::string& path, const std::string& outDir, std::vector<BatchRow>& rows,
                  std::string& error)
{
    LineReader reader(1 << 20);
    if (!reader.open(path)) {
        error = path + ": cannot read: " + std::strerror(reader.error());
        return false;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = path + ": cannot read: Is a directory";
        return false;
    }
    const std::string folder = folderOf(path);
    const std::string out = outDir.empty() ? folder : outDir;
    RowBuilder builder{path, folder, out, error};
    std::string line;
    std::vector<std::string> header, cells;
    char delimiter = ',';
    std::set<std::string> ids, outputs;
    int number = 0;
    for (int lineNo = 1;; ++lineNo) {
        const LineReader::Status status = reader.next(line);
        if (status == LineReader::Status::End)
            break;
        if (status != LineReader::Status::Line) {
            error = path + ":" + std::to_string(lineNo) + ": " +
                    (status == LineReader::Status::TooLong ? "line longer than 1 MiB" : "read failed");
            return false;
        }
        if (lineNo == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        if (trim(line).empty())
            continue;
        if (header.empty()) {
            delimiter = delimiterOf(line) == '\t' ? '\t' : ',';
            splitRow(line, delimiter, header);
            for (const std::string& column : header) {
                if (column != "id" && column != "command" && column != "out" &&
                    std::find(std::begin(kFileColumns), std::end(kFileColumns), column) ==
                        std::end(kFileColumns) &&
                    kOptionColumns.count(column) == 0 && kFlagColumns.count(column) == 0)
                    return builder.fail(lineNo, column, "unknown column");
                if (std::count(header.begin(), header.end(), column) > 1)
                    return builder.fail(lineNo, column, "given twice");
            }
            if (std::find(header.begin(), header.end(), "id") == header.end())
                return builder.fail(lineNo, "id", "missing: every row needs an id");
            continue;
        }
        if (!splitRow(line, delimiter, cells))
            return builder.fail(lineNo, header[0], "a quote is never closed");
        if (cells.size() > header.size())
            return builder.fail(lineNo, header.back(), "the row has more cells than the header");
        BatchRow row;
        row.number = ++number;
        if (!builder.build(lineNo, header, cells, row))
            return false;
        if (!ids.insert(row.id).second)
            return builder.fail(lineNo, "id", "'" + row.id + "' is used by an earlier row");
        if (!outputs.insert(row.output).second)
            return builder.fail(lineNo, "out", row.output + " is written by an earlier row");
        rows.push_back(std::move(row));
    }
    if (rows.empty()) {
        error = path + ": no rows";
        return false;
    }
    return true;
}

} // namespace qvr
