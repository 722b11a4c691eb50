#include "support/search_card.h"

#include "volume/cluster_map.h"

namespace veld::test {

DiskVolume& UseCard(SearchSession& session, const FatImageBuilder& builder, int32_t flags) {
    session.volume = builder.Open();
    ReadFat(session.clusterMap, *session.volume);
    session.ClearFoundFileLists();
    session.options = SearchOptions{};
    session.options.flags = flags;
    session.cancelFlag = 0;
    session.startWindow = nullptr;
    return *session.volume;
}

}  // namespace veld::test
