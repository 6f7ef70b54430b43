#include "Formats.h"

#include "Fields.h"

namespace qvr {

namespace {

struct Header {
    std::vector<std::string> names;

    int find(const char* name) const
    {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                return int(i);
        return -1;
    }
    bool has(const char* name) const { return find(name) >= 0; }
    bool hasAny(std::initializer_list<const char*> list) const
    {
        for (const char* name : list)
            if (has(name))
                return true;
        return false;
    }
    int findFirst(const char* a, const char* b) const { return has(a) ? find(a) : find(b); }
};

bool need(const Header& header, const char* name, int& index, std::string& why)
{
    index = header.find(name);
    if (index < 0)
        why = std::string("column \"") + name + "\" is missing";
    return index >= 0;
}

// The source asked for, or what the file holds; a file of fixations cannot give gaze.
bool chooseSource(Source asked, Source held, const char* what, Plan& plan, std::string& why)
{
    plan.source = asked == Source::Auto ? held : asked;
    if (plan.source == Source::Gaze && held == Source::Fixations) {
        why = std::string(what) + " holds fixations and cannot give gaze";
        return false;
    }
    return true;
}

bool planPupil(const Header& h, const ReadOptions& options, Plan& plan, std::string& why)
{
    plan.normalised = true;
    plan.onSurf = h.find("on_surf");
    const Source held = h.has("duration") ? Source::Fixations : Source::Gaze;
    if (!chooseSource(options.source, held, "a Pupil file with a \"duration\" column", plan, why))
        return false;
    if (!need(h, "norm_pos_x", plan.x, why) || !need(h, "norm_pos_y", plan.y, why))
        return false;
    if (plan.source == Source::Fixations) {
        plan.time = h.findFirst("start_timestamp", "world_timestamp");
        plan.frame = h.find("start_frame_index");
        if (!need(h, "duration", plan.duration, why))
            return false;
    } else {
        plan.time = h.findFirst("gaze_timestamp", "world_timestamp");
        plan.frame = h.find("world_index");
        plan.confidence = h.find("confidence");
    }
    if (!(options.width > 0 && options.height > 0)) {
        why = "positions are normalised (norm_pos_x/y): the stimulus width and height are needed";
        return false;
    }
    return true;
}

bool planNeon(const Header& h, const ReadOptions& options, Plan& plan, std::string& why)
{
    plan.timeScale = 1e-9;
    const Source held = h.has("fixation x [px]") ? Source::Fixations : Source::Gaze;
    if (!chooseSource(options.source, held, "a Neon fixations file", plan, why))
        return false;
    if (plan.source == Source::Gaze) {
        plan.time = h.find("timestamp [ns]");
        return need(h, "gaze x [px]", plan.x, why) && need(h, "gaze y [px]", plan.y, why);
    }
    plan.time = h.find("start timestamp [ns]");
    return need(h, "fixation x [px]", plan.x, why) && need(h, "fixation y [px]", plan.y, why) &&
           need(h, "duration [ms]", plan.duration, why);
}

bool planTobii(const Header& h, const ReadOptions& options, Plan& plan, std::string& why)
{
    plan.timeScale = 1e-3;
    plan.time = h.find("Recording timestamp");
    // One export holds both: fixations when it has their columns, unless gaze is asked for.
    const bool fixations = h.has("Eye movement type") && h.has("Fixation point X");
    const Source held = fixations ? Source::Fixations : Source::Gaze;
    plan.source = options.source == Source::Auto ? held : options.source;
    if (plan.source == Source::Gaze)
        return need(h, "Gaze point X", plan.x, why) && need(h, "Gaze point Y", plan.y, why);
    return need(h, "Eye movement type", plan.eventType, why) &&
           need(h, "Eye movement type index", plan.eventIndex, why) &&
           need(h, "Fixation point X", plan.x, why) && need(h, "Fixation point Y", plan.y, why) &&
           need(h, "Gaze event duration", plan.duration, why);
}

bool planEyeLink(const Header& h, const ReadOptions& options, Plan& plan, std::string& why)
{
    plan.timeScale = 1e-3;
    plan.time = h.find("CURRENT_FIX_START");
    return chooseSource(options.source, Source::Fixations, "an EyeLink fixation report", plan, why) &&
           need(h, "CURRENT_FIX_X", plan.x, why) && need(h, "CURRENT_FIX_Y", plan.y, why) &&
           need(h, "CURRENT_FIX_DURATION", plan.duration, why);
}

// x, y[, duration[, t]]: the first row's width tells what the file holds. t is in
// milliseconds, like the duration.
bool planXY(const Header& firstRow, const ReadOptions& options, Plan& plan, std::string& why)
{
    plan.firstRowIsData = true;
    plan.timeScale = 1e-3;
    const size_t columns = firstRow.names.size();
    const Source held = columns >= 3 ? Source::Fixations : Source::Gaze;
    if (!chooseSource(options.source, held, "an x,y,duration file", plan, why))
        return false;
    if (plan.source == Source::Fixations && columns < 3) {
        why = "no duration column (x, y, duration) for fixations";
        return false;
    }
    plan.x = 0;
    plan.y = 1;
    plan.duration = plan.source == Source::Fixations ? 2 : -1;
    plan.time = columns >= 4 ? 3 : -1;
    return true;
}

bool allNumbers(const Header& row, bool decimalComma)
{
    double value = 0;
    for (const std::string& field : row.names)
        if (!parseNumber(field, decimalComma, value))
            return false;
    return row.names.size() >= 2;
}

bool hasPrefix(const Header& h, const std::string& prefix)
{
    for (const std::string& name : h.names)
        if (name.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

Format detect(const Header& h, bool decimalComma)
{
    if (allNumbers(h, decimalComma))
        return Format::XY;
    if (h.hasAny({"norm_pos_x", "norm_pos_y", "start_timestamp", "gaze_timestamp", "world_timestamp",
                  "world_index", "on_surf", "start_frame_index"}))
        return Format::Pupil;
    if (h.hasAny({"fixation id", "start timestamp [ns]", "timestamp [ns]", "fixation x [px]", "gaze x [px]"}))
        return Format::Neon;
    if (h.hasAny({"Recording timestamp", "Eye movement type", "Eye movement type index", "Fixation point X",
                  "Gaze point X", "Gaze event duration"}))
        return Format::Tobii;
    if (hasPrefix(h, "CURRENT_FIX_"))
        return Format::EyeLink;
    return Format::Auto;
}

} // namespace

bool planRead(const std::string& firstLine, const ReadOptions& options, Plan& plan, std::string& why)
{
    Header header;
    plan.delimiter = delimiterOf(firstLine);
    plan.decimalComma = plan.delimiter == '\t';
    if (!splitRow(firstLine, plan.delimiter, header.names)) {
        why = "the first row has a quote that is never closed";
        return false;
    }
    plan.format = options.format != Format::Auto ? options.format : detect(header, plan.decimalComma);
    switch (plan.format) {
    case Format::Pupil: return planPupil(header, options, plan, why);
    case Format::Neon: return planNeon(header, options, plan, why);
    case Format::Tobii: return planTobii(header, options, plan, why);
    case Format::EyeLink: return planEyeLink(header, options, plan, why);
    case Format::XY: return planXY(header, options, plan, why);
    case Format::Auto: break;
    }
    why = "header of no known format (tried pupil, neon, tobii, eyelink, xy)";
    return false;
}

} // namespace qvr
