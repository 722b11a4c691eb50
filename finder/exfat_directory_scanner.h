// The directory scanner of exFAT volumes: reads the folders from the root
// through their entry sets, claims the clusters of live folders and files in
// the cluster map, registers deleted files with their names, folders, times
// and sizes in the same records as FAT's, and descends deleted folders.
#pragma once

#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/exfat_entry_set.h"
#include "finder/search_session.h"
#include "volume/exfat_volume.h"

namespace veld {

// Scans the session's exFAT volume: the live tree first (deleted files met
// in it are registered once the tree has claimed its clusters), then the
// deleted folders, their own deleted folders included. Returns 0.
int ScanExfatVolume(SearchSession& session);

// The found-file record of a deleted exFAT set: its name (a set without one is
// named "#" and its first cluster, like such a folder), the attributes, the
// creation and modification times in the local time of this machine (the
// set's UTC offset applied when it is valid), the first cluster and the size.
DelFileInfo RecordOfExfatSet(const ExfatEntrySet& set);

// A deleted set of the folder at path folder, ready to be placed and judged
// with the others (HoldOrRegister): its record, and the clusters its FAT chain
// still leads through (then free ones after it) unless it is NoFatChain or its
// chain leads nowhere beyond its start.
PendingFile PendingExfatFile(SearchSession& session, const ExfatBoot& boot, ExfatFatReader& fat, const ExfatEntrySet& set,
                             const std::string& folder);

// A timestamp as FAT date (high 16 bits) and time words in this machine's
// local time: with a valid UTC offset the moment is converted; without one
// the stored wall-clock time stands.
uint32_t ExfatLocalFatTime(const ExfatTimestamp& time);

}  // namespace veld
