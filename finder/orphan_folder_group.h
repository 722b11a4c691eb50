// The top-level group of the folders a format cut off whose parent is unknown.
#pragma once

namespace veld {

inline constexpr char kOrphanFolderGroup[] = "(フォーマット前のフォルダ)";

}  // namespace veld
