#include "cli/streamed_records.h"

#include <functional>

#include "cli/json_writer.h"
#include "cli/record_json.h"

namespace veld {

std::string StreamedRecords::Line(const DelFileInfo& record) {
    std::string line = FoundFileJson(record, std::nullopt);
    written_[record.index] = std::hash<std::string>{}(line);
    return line;
}

std::optional<std::string> StreamedRecords::Revision(const DelFileInfo& record) const {
    auto it = written_.find(record.index);
    if (it == written_.end()) return std::nullopt;
    if (!record.listed) {
        JsonObject out;
        out.Add("index", record.index).Add("revised", true).Add("withdrawn", true);
        return out.str();
    }
    std::string line = FoundFileJson(record, std::nullopt);
    if (std::hash<std::string>{}(line) == it->second) return std::nullopt;
    // The same object with the mark in front of its closing brace.
    line.insert(line.size() - 1, ",\"revised\":true");
    return line;
}

}  // namespace veld
