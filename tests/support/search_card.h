// Sets a session up as the search driver leaves it before the signature
// search: the card as the session's volume with its FAT read, empty
// found-file lists, the given search flags, no cancel and no start window
// (registration posts nowhere in the engine tests).
#pragma once

#include "finder/search_session.h"
#include "support/fat_image_builder.h"

namespace veld::test {

DiskVolume& UseCard(SearchSession& session, const FatImageBuilder& builder, int32_t flags = SearchDetailed);

}  // namespace veld::test
