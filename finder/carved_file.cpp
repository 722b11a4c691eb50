#include "finder/carved_file.h"

#include <cstdio>

namespace veld {

DelFileInfo CarvedFileRecord(const std::string& name, uint32_t length, uint64_t start, uint32_t clusterCount,
                             ContentClass firstClass) {
    DelFileInfo record;
    record.fileSize = length;
    record.startCluster = start;
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
    return record;
}

std::string CarvedFileName(uint64_t start, const char* extension) {
    char name[48];
    std::snprintf(name, sizeof name, "#%08llu.%s", (unsigned long long)start, extension);
    return name;
}

}  // namespace veld
