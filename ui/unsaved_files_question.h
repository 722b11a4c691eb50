// The one question asked before found files that were not saved go: by a new
// search, a disk-image command or the window closing. It says how many files
// would be lost, then what would happen instead.
#pragma once

class QString;
class QWidget;

namespace veld {

class SearchController;

// True when nothing unsaved would be lost, or when the user answers Yes to
// "見つかったファイル (N 個) はまだ保存されていません。" followed by
// nextLine (for example "検索結果を消して card.img を検索しますか？").
bool MayDropUnsavedFiles(SearchController& controller, QWidget* owner, const QString& nextLine);

}  // namespace veld
