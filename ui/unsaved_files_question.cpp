#include "ui/unsaved_files_question.h"

#include <QString>

#include "ui/message_boxes.h"
#include "ui/search_controller.h"

namespace veld {

bool MayDropUnsavedFiles(SearchController& controller, QWidget* owner, const QString& nextLine) {
    if (!controller.unsavedFiles()) return true;
    return AskYesNo(owner, QStringLiteral("見つかったファイル (%1 個) はまだ保存されていません。\n%2")
                               .arg(controller.session().FoundCount.load())
                               .arg(nextLine));
}

}  // namespace veld
