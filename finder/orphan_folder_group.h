// Where folders that no surviving folder leads to are listed: a folder found
// in free space whose parent is gone (the root a format rewrote, or a
// parent link to what is no folder any more) is shown under one top-level
// group, FAT and exFAT alike. Its own name was in the lost parent, so it is
// named by its first cluster; the folders below it keep the names its
// entries give them.
#pragma once

#include <cstdint>
#include <string>

namespace veld {

// The top-level group of the folders a format cut off whose parent is unknown.
inline constexpr char kOrphanFolderGroup[] = "(フォーマット前のフォルダ)";

// The name of a folder whose own entry is lost, by its first cluster.
inline std::string UnnamedFolderName(uint64_t firstCluster) {
    return "クラスタ " + std::to_string(firstCluster) + " のフォルダ";
}

}  // namespace veld
