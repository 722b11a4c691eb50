#include "ui/extract_with_progress.h"

#include <QCoreApplication>

#include "ui/common_progress.h"

namespace veld {

ExtractOutcome ExtractFoundFileWithProgress(QWidget* owner, DiskVolume* volume, const DelFileInfo& record,
                                            ExtractRequest request, bool showProgress) {
    if (!volume) {
        ExtractOutcome none;
        none.result = ExtractCreateFailed;
        return none;
    }
    const bool withDialog = showProgress && record.fileSize >= kExtractProgressBytes;
    if (withDialog) {
        CCommonProgress::Open(owner, QStringLiteral("ファイル展開"), QStringLiteral("ファイルオープン中"),
                              QStringLiteral("キャンセル"));
        request.progress = [](int percent) {
            CCommonProgress::SetPercent(percent);
            QCoreApplication::processEvents();
            return !CCommonProgress::Cancelled();
        };
    } else {
        request.progress = nullptr;
    }
    ExtractOutcome outcome = ExtractFoundFile(*volume, record, request);
    if (withDialog) CCommonProgress::Close();
    return outcome;
}

}  // namespace veld
