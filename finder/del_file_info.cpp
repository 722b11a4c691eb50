#include "finder/del_file_info.h"

#include <cstdio>

#include "base/byte_reader.h"

namespace veld {

uint32_t EntryStartCluster(const DirEntry& e) {
    ByteReader r(e.data(), e.size());
    return (uint32_t(r.le16(dirent::ClusterHigh)) << 16) | r.le16(dirent::ClusterLow);
}
uint32_t EntrySize(const DirEntry& e) { return ByteReader(e.data(), e.size()).le32(dirent::FileSize); }
uint16_t EntryWriteDate(const DirEntry& e) { return ByteReader(e.data(), e.size()).le16(dirent::WriteDate); }
uint16_t EntryWriteTime(const DirEntry& e) { return ByteReader(e.data(), e.size()).le16(dirent::WriteTime); }

DelFileInfo RecordOfFatEntry(const DirEntry& entry) {
    ByteReader r(entry.data(), entry.size());
    DelFileInfo record;
    record.fatEntry = entry;
    record.attributes = r.u8(dirent::Attributes);
    record.created = FatTime{r.le16(dirent::CreateDate), r.le16(dirent::CreateTime)};
    record.modified = FatTime{EntryWriteDate(entry), EntryWriteTime(entry)};
    record.fileSize = EntrySize(entry);
    record.startCluster = EntryStartCluster(entry);
    return record;
}

void FreeDelFileInfo(DelFileInfo* info) {
    info->name.reset();
    info->folder.reset();
    info->remarks.reset();
    info->clusterList.clear();
    info->clusterList.shrink_to_fit();
    info->thumbnail.reset();
}

std::string PaddedShortName(const DirEntry& e) {
    char text[16];
    std::snprintf(text, sizeof text, "%-8.8s.%3.3s", std::string(reinterpret_cast<const char*>(e.data()), 8).c_str(),
                  std::string(reinterpret_cast<const char*>(e.data() + 8), 3).c_str());
    return text;
}

std::string TrimmedShortName(const DirEntry& e) {
    auto trimmed = [](std::string s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
        return s;
    };
    return trimmed(std::string(reinterpret_cast<const char*>(e.data()), 8)) + "." +
           trimmed(std::string(reinterpret_cast<const char*>(e.data() + 8), 3));
}

std::string ShortNameOf(const DelFileInfo& record) {
    if (record.fatEntry) return TrimmedShortName(*record.fatEntry);
    return record.name.value_or(std::string());
}

std::string ShortExtensionOf(const DelFileInfo& record) {
    std::string ext;
    if (record.fatEntry) {
        for (int i = 0; i < 3 && (*record.fatEntry)[size_t(dirent::Ext + i)] != 0; ++i)
            ext += char((*record.fatEntry)[size_t(dirent::Ext + i)]);
    } else if (record.name) {
        if (auto dot = record.name->rfind('.'); dot != std::string::npos) ext = record.name->substr(dot + 1, 3);
    }
    for (char& c : ext)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return ext;
}

}  // namespace veld
