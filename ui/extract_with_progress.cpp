#include "ui/extract_with_progress.h"

#include <QCoreApplication>

#include "ui/common_progress.h"
#include "ui/search_controller.h"

namespace veld {

ExtractOutcome ExtractFoundFileWithProgress(SearchController& controller, QWidget* owner, const DelFileInfo& record,
                                            ExtractRequest request, bool showProgress) {
    DiskVolume* volume = controller.session().volume.get();
    if (!volume) {
        ExtractOutcome none;
        none.result = ExtractCreateFailed;
        return none;
    }
    if (!showProgress || record.fileSize < kExtractProgressBytes) {
        request.progress = nullptr;
        return ExtractFoundFile(*volume, record, request);
    }
    // The event loop runs while the dialog is up: nothing else may start.
    GreyedCommands greyed(controller);
    CommonProgress progress(owner, QStringLiteral("ファイル展開"), QStringLiteral("ファイルオープン中"),
                            QStringLiteral("キャンセル"));
    request.progress = [&progress](int percent) {
        progress.setPercent(percent);
        QCoreApplication::processEvents();
        return !progress.cancelled();
    };
    return ExtractFoundFile(*volume, record, request);
}

}  // namespace veld
