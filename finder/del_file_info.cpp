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

}  // namespace veld
