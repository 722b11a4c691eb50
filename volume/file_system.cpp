#include "volume/file_system.h"

#include "volume/cluster_map.h"

namespace veld {

ClusterUse FileSystem::RecordedState(uint64_t cluster) const { return ClusterInUse(cluster) ? ClusterUse::LiveFile : ClusterUse::Empty; }

}  // namespace veld
