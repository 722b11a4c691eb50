#include "support/search_card.h"

#include "finder/found_file_lists.h"
#include "volume/cluster_map.h"

namespace veld::test {

DiskVolume& UseCard(const FatImageBuilder& builder, int32_t flags) {
    gSearch.volume = builder.Open();
    ReadFat(*gSearch.volume, gSearch.volume->bootSector);
    ClearFoundFileLists();
    gSearch.options = SearchOptions{};
    gSearch.options.flags = flags;
    gSearch.cancelFlag = 0;
    gSearch.startWindow = nullptr;
    return *gSearch.volume;
}

}  // namespace veld::test
