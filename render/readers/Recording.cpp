#include "Recording.h"

#include "Fields.h"
#include "Formats.h"
#include "LineReader.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace qvr {

namespace {

enum class Row { Sample, Ignored, Skipped };

// Turns data rows into samples by a plan; remembers the fixation a Tobii row run belongs to.
class RowReader {
public:
    RowReader(const Plan& plan, const ReadOptions& options) : plan_(plan), options_(options) { }

    Row read(const std::vector<std::string>& fields, Sample& sample)
    {
        const std::string* index = nullptr;
        if (plan_.eventType >= 0) {
            const std::string* type = field(fields, plan_.eventType);
            if (type == nullptr)
                return Row::Skipped;
            if (*type != "Fixation")
                return Row::Ignored;
            index = field(fields, plan_.eventIndex);
            if (index == nullptr || index->empty())
                return Row::Skipped;
            if (*index == lastEvent_)
                return Row::Ignored; // a later row of a fixation already taken
        }
        if (!usable(fields, sample))
            return Row::Skipped;
        if (index != nullptr)
            lastEvent_ = *index;
        return Row::Sample;
    }

private:
    static const std::string* field(const std::vector<std::string>& fields, int column)
    {
        return column >= 0 && size_t(column) < fields.size() ? &fields[column] : nullptr;
    }

    // Leaves `value` as it is when the file has no such column.
    bool number(const std::vector<std::string>& fields, int column, double& value) const
    {
        const std::string* text = field(fields, column);
        return column < 0 || (text != nullptr && parseNumber(*text, plan_.decimalComma, value));
    }

    bool usable(const std::vector<std::string>& fields, Sample& sample) const
    {
        if (plan_.onSurf >= 0) {
            const std::string* onSurf = field(fields, plan_.onSurf);
            if (onSurf == nullptr || *onSurf != "True")
                return false;
        }
        double confidence = 1;
        if (!number(fields, plan_.confidence, confidence) || confidence < options_.minConfidence)
            return false;
        double x = 0, y = 0, duration = 0, time = std::numeric_limits<double>::quiet_NaN();
        if (!number(fields, plan_.x, x) || !number(fields, plan_.y, y) ||
            !number(fields, plan_.duration, duration) || !number(fields, plan_.time, time) || duration < 0)
            return false;
        long frame = -1;
        const std::string* frameText = field(fields, plan_.frame);
        if (plan_.frame >= 0 && (frameText == nullptr || !parseInteger(*frameText, frame)))
            return false;
        if (plan_.normalised) {
            x = x * options_.width;
            y = (1 - y) * options_.height;
        }
        sample = {x, y, duration, time * plan_.timeScale, frame};
        return std::isfinite(sample.x) && std::isfinite(sample.y);
    }

    const Plan& plan_;
    const ReadOptions& options_;
    std::string lastEvent_;
};

// Reads the rows after the header into `recording`; false on a read error.
struct FileReader {
    const Plan& plan;
    RowReader rows;
    Recording& recording;
    std::vector<std::string> fields;

    void take(const std::string& line)
    {
        if (trim(line).empty())
            return;
        Sample sample;
        const Row row = splitRow(line, plan.delimiter, fields) ? rows.read(fields, sample) : Row::Skipped;
        if (row == Row::Sample)
            recording.samples.push_back(sample);
        recording.skippedRows += row == Row::Skipped ? 1 : 0;
    }

    bool readAll(LineReader& reader, std::string& line)
    {
        for (;;) {
            switch (reader.next(line)) {
            case LineReader::Status::Line: take(line); break;
            case LineReader::Status::TooLong: ++recording.skippedRows; break;
            case LineReader::Status::End: return true;
            case LineReader::Status::Error: return false;
            }
        }
    }
};

void stripBom(std::string& line)
{
    if (line.compare(0, 3, "\xEF\xBB\xBF") == 0)
        line.erase(0, 3);
}

std::string cannotRead(const std::string& path, int error)
{
    return path + ": cannot read: " + std::strerror(error);
}

} // namespace

bool readRecording(const std::string& path, const ReadOptions& options, Recording& out, std::string& error)
{
    LineReader reader(kMaxLineBytes);
    if (!reader.open(path)) {
        error = cannotRead(path, reader.error());
        return false;
    }
    std::string line;
    switch (reader.next(line)) {
    case LineReader::Status::Line: break;
    case LineReader::Status::TooLong: error = path + ":1: the first line is longer than 16 MiB"; return false;
    case LineReader::Status::End: error = path + ": the file is empty"; return false;
    case LineReader::Status::Error: error = cannotRead(path, reader.error()); return false;
    }
    stripBom(line);
    Plan plan;
    std::string why;
    if (!planRead(std::string(trim(line)), options, plan, why)) {
        error = path + ":1: " + why;
        return false;
    }
    Recording recording;
    recording.path = path;
    recording.format = plan.format;
    recording.source = plan.source;
    FileReader rows{plan, RowReader(plan, options), recording, {}};
    if (plan.firstRowIsData)
        rows.take(line);
    if (!rows.readAll(reader, line)) {
        error = cannotRead(path, reader.error());
        return false;
    }
    if (recording.samples.empty()) {
        error = path + ": no usable row (" + std::to_string(recording.skippedRows) + " skipped)";
        return false;
    }
    out = std::move(recording);
    return true;
}

namespace {
const char* const kFormatNames[] = {"auto", "pupil", "neon", "tobii", "eyelink", "xy"};
const char* const kSourceNames[] = {"auto", "fixations", "gaze"};

template <typename Enum, size_t N>
bool parseName(const char* const (&names)[N], const std::string& name, Enum& value)
{
    for (size_t i = 0; i < N; ++i) {
        if (name == names[i]) {
            value = Enum(i);
            return true;
        }
    }
    return false;
}
} // namespace

bool parseFormat(const std::string& name, Format& format) { return parseName(kFormatNames, name, format); }
bool parseSource(const std::string& name, Source& source) { return parseName(kSourceNames, name, source); }

} // namespace qvr
