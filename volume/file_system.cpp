#include "volume/file_system.h"

#include "volume/cluster_map.h"

namespace veld {

int FileSystem::RecordedState(uint64_t cluster) const { return ClusterInUse(cluster) ? FA_USE_FILE : FA_EMPTY; }

}  // namespace veld
