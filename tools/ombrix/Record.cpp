#include "Record.h"

#include <algorithm>

namespace {

struct Field {
    const char* name;
    std::string json;   // the value as stored
    std::string table;  // the value for people
};

Field flag(const char* name, bool value) { return {name, value ? "true" : "false", value ? "yes" : "no"}; }

Field number(const char* name, long long value)
{
    std::string text = std::to_string(value);
    return {name, text, text};
}

std::string seconds(long long hundredNanoseconds)
{
    char text[32];
    snprintf(text, sizeof text, "%.3f s", (double)hundredNanoseconds / 1e7);
    return text;
}

Field duration(const char* name, long long value)
{
    return {name, std::to_string(value), std::to_string(value) + " (" + seconds(value) + ")"};
}

std::vector<Field> fields(const Ombrix_FileInfo& r)
{
    Field colorSpace = number("ColorSpace", r.ColorSpace);
    colorSpace.table += std::string(" (") + ColorSpaceName(r.ColorSpace) + ")";
    return {flag("HasVideo", r.HasVideo),
            number("Width", r.Width),
            number("Height", r.Height),
            flag("BottomUp", r.BottomUp),
            number("NumFrames", r.NumFrames),
            duration("VideoDuration", r.VideoDuration),
            number("Rate", r.Rate),
            number("Scale", r.Scale),
            colorSpace,
            flag("Interlaced", r.Interlaced),
            flag("UpperFieldFirst", r.UpperFieldFirst),
            flag("HasAlpha", r.HasAlpha),
            flag("HasAudio", r.HasAudio),
            number("SampleRate", r.SampleRate),
            number("Channels", r.Channels),
            number("BitsPerSample", r.BitsPerSample),
            number("NumSamples", r.NumSamples),
            duration("AudioDuration", r.AudioDuration),
            number("FileSize", r.FileSize),
            number("DataRate", r.DataRate),
            number("IsValid", r.IsValid)};
}

std::string jsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += char(c);
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += char(c);
        }
    }
    return quoted + "\"";
}

}  // namespace

const char* ColorSpaceName(unsigned char code)
{
    static const char* const names[] = {"none", "UYVY", "YUY2", "RGB24", "RGB32"};
    return code < sizeof names / sizeof *names ? names[code] : "unknown";
}

void PrintTable(FILE* out, const std::string& path, const std::vector<Column>& columns)
{
    // The titles, whether each opened the file, then the fields; "-" in a column with no record.
    std::vector<std::vector<std::string>> rows = {{""}, {"Opened"}};
    for (const Field& f : fields(Ombrix_FileInfo()))
        rows.push_back({f.name});
    for (const Column& column : columns) {
        rows[0].push_back(column.title);
        rows[1].push_back(column.record ? "yes" : "no: " + column.refusal);
        const std::vector<Field> values = fields(column.record.value_or(Ombrix_FileInfo()));
        for (size_t i = 0; i < values.size(); i++)
            rows[i + 2].push_back(column.record ? values[i].table : "-");
    }
    std::vector<size_t> widths(rows[0].size());
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); c++)
            widths[c] = std::max(widths[c], row[c].size());
    fprintf(out, "%-*s  %s\n", int(widths[0]), "File", path.c_str());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); c++)
            line += row[c] + std::string(c + 1 < row.size() ? widths[c] + 2 - row[c].size() : 0, ' ');
        fprintf(out, "%s\n", line.c_str());
    }
}

void PrintJson(FILE* out, const std::string& path, const std::vector<Column>& columns)
{
    fprintf(out, "{\n  \"File\": %s", jsonString(path).c_str());
    for (const Column& column : columns) {
        fprintf(out, ",\n  \"%s\": {", column.title.c_str());
        if (column.record) {
            const char* separator = "\n";
            for (const Field& f : fields(*column.record)) {
                fprintf(out, "%s    \"%s\": %s", separator, f.name, f.json.c_str());
                separator = ",\n";
            }
        } else {
            fprintf(out, "\n    \"Refused\": %s", jsonString(column.refusal).c_str());
        }
        fprintf(out, "\n  }");
    }
    fprintf(out, "\n}\n");
}

std::string Summary(const Ombrix_FileInfo& r)
{
    char text[256];
    std::string summary;
    if (r.HasVideo) {
        snprintf(text, sizeof text, "video %dx%d %s%s, %u frames at %u/%u (%s)", r.Width, r.Height,
                 ColorSpaceName(r.ColorSpace), r.BottomUp && r.Height > 0 ? " bottom-up" : "", r.NumFrames, r.Rate,
                 r.Scale, seconds(r.VideoDuration).c_str());
        summary = text;
    }
    if (r.HasAudio) {
        snprintf(text, sizeof text, "%saudio %u Hz, %u channels, %u bits, %u sample frames (%s)",
                 summary.empty() ? "" : "; ", r.SampleRate, r.Channels, r.BitsPerSample, r.NumSamples,
                 seconds(r.AudioDuration).c_str());
        summary += text;
    }
    return summary.empty() ? "no video, no audio" : summary;
}
