#include "finder/carved_file.h"

#include <algorithm>
#include <cstdio>

#include "base/byte_reader.h"

namespace veld {

DelFileInfo CarvedFileRecord(const char (&entryName)[8], const std::string& name, uint32_t length, uint64_t start,
                             uint32_t clusterCount, int32_t firstClass) {
    DelFileInfo record;
    std::copy(entryName, entryName + 8, record.entry.begin() + dirent::Name);
    // The generated name's extension, its first three characters, space-padded.
    const size_t dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (int i = 0; i < 3; ++i)
        record.entry[dirent::Ext + i] = i < int(ext.size()) ? uint8_t(ext[i]) : uint8_t(' ');
    record.entry[dirent::Attributes] = 0;
    StoreLe16(record.entry.data() + dirent::ClusterHigh, uint16_t((start >> 16) & 0xFFFF));
    StoreLe16(record.entry.data() + dirent::ClusterLow, uint16_t(start & 0xFFFF));
    StoreLe32(record.entry.data() + dirent::FileSize, length);
    record.name = name;
    record.state = StateComplete;
    if (clusterCount >= 1) {
        record.clusterList.resize(clusterCount);
        for (uint32_t i = 0; i < clusterCount; ++i) record.clusterList[i] = start + i;
    }
    record.clustersNeeded = int32_t(clusterCount);
    record.clustersCollected = int32_t(clusterCount);
    record.firstClass = firstClass;
    record.carved = true;
    record.carvedStart = start;
    return record;
}

std::string CarvedFileName(uint64_t start, const char* extension) {
    char name[48];
    std::snprintf(name, sizeof name, "#%08llu.%s", (unsigned long long)start, extension);
    return name;
}

}  // namespace veld
