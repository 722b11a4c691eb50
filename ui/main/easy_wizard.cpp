#include "ui/main/easy_wizard.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/settings.h"
#include "ui/dialog_units.h"
#include "ui/main/save_dialog.h"
#include "ui/main/start_search.h"
#include "ui/picture_loader.h"
#include "ui/search_controller.h"

namespace veld {
namespace {

// The picture frame of every page, in dialog units.
constexpr int kPictureWidth = 274, kPictureHeight = 119;

// What each page's picture says (the texts drawn into pictures 162 to 165).
const char* const kGuidance[5] = {
    "かんたんウィザード: メモリカードから削除した写真や動画を探します。カードをカードリーダーに入れてから"
    "［次へ］を押し、カードまたはディスクイメージを選んでください。",
    "検索中　検索終了までお待ちください",
    "検索が終了しました　次を押すと見つかったファイルを保存します",
    "保存が終了しました 再度検索するには戻るを押してください。完了を押すとウィザードを終了します",
    "かんたんウィザード",
};
constexpr Picture kPictures[5] = {Picture::WizardPage1, Picture::WizardPage2, Picture::WizardPage3,
                                   Picture::WizardPage4, Picture::WizardPage1};
// Page 3 after a cancelled search.
constexpr char kPartialGuidance[] =
    "検索を中断しました　見つかったのは中断までのファイルだけです。次を押すとそれらを保存します";

}  // namespace

EasyWizardPage::EasyWizardPage(int number, Picture picture, const QString& guidance, QWidget* parent)
    : QWizardPage(parent), number_(number), artwork_(picture), guidance_(guidance) {
    setObjectName(QStringLiteral("easyWizardPage%1").arg(number));
    setWindowTitle(QStringLiteral("かんたんウィザード"));
    setAccessibleName(QStringLiteral("かんたんウィザード"));
    setAccessibleDescription(guidance);
    const DialogUnits du = DialogUnitsOf(DialogFont());

    picture_ = new QLabel(this);
    picture_->setObjectName(QStringLiteral("item1105"));
    picture_->setFixedSize(du.size(kPictureWidth, kPictureHeight));
    picture_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture_->setAutoFillBackground(true);
    QPalette pal = picture_->palette();
    pal.setColor(QPalette::Window, Qt::white);
    picture_->setPalette(pal);
    // A screen reader says what the picture shows.
    picture_->setAccessibleName(QStringLiteral("かんたんウィザード"));
    picture_->setAccessibleDescription(guidance);
    picture_->setToolTip(guidance);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(picture_);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("wizardNote"));
    note_->setWordWrap(true);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_->hide();
    layout->addWidget(note_);
    if (number_ == 4) {
        openFolder_ = new QPushButton(QStringLiteral("保存先フォルダを開く(&O)"), this);
        openFolder_->setObjectName(QStringLiteral("wizardOpenFolder"));
        openFolder_->setAutoDefault(false);
        openFolder_->hide();
        layout->addWidget(openFolder_, 0, Qt::AlignLeft);
    }
    if (number_ == 1) {
        notOpen_ = new QCheckBox(QStringLiteral("起動時に簡単復活ウィザードを表示しない"), this);
        notOpen_->setObjectName(QStringLiteral("item1039"));
        // Stored at once, even if the wizard is then cancelled.
        connect(notOpen_, &QCheckBox::toggled, this,
                [](bool on) { WriteIniInt("Config", "NotOpenEasyWiz", on ? 1 : 0); });
        layout->addWidget(notOpen_);
    }
    layout->addStretch(1);
}

void EasyWizardPage::setArtwork(Picture picture, const QString& guidance) {
    if (picture == artwork_) return;
    artwork_ = picture;
    guidance_ = guidance;
    setAccessibleDescription(guidance);
    picture_->setAccessibleDescription(guidance);
    picture_->setToolTip(guidance);
    pictureLoaded_ = false;
    loadPicture();
}

void EasyWizardPage::setNote(const QString& text) {
    note_->setText(text);
    note_->setVisible(!text.isEmpty());
}

void EasyWizardPage::loadPicture() {
    if (pictureLoaded_) return;
    pictureLoaded_ = true;
    QImage image;
    if (!LoadPicture(artwork_, &image)) return;
    // At its own size, from the frame's top left; fitted only when the
    // frame is smaller (a small dialog font).
    if (image.width() > picture_->width() || image.height() > picture_->height())
        image = image.scaled(picture_->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    picture_->setPixmap(QPixmap::fromImage(image));
}

void EasyWizardPage::initializePage() {
    loadPicture();
    if (notOpen_) {
        QSignalBlocker quiet(notOpen_);
        notOpen_->setChecked(ReadIniInt("Config", "NotOpenEasyWiz", 0) != 0);
    }
}

bool EasyWizardPage::validatePage() {
    auto* sheet = qobject_cast<EasyWizard*>(wizard());
    if (!sheet) return true;
    if (number_ == 1) {
        WriteIniInt("Config", "NotOpenEasyWiz", notOpen_->isChecked() ? 1 : 0);
        return sheet->StartSearchFromPage1();
    }
    if (number_ == 3) return sheet->SaveFromPage3();
    return true;
}

int EasyWizardPage::nextId() const {
    switch (number_) {
        case 1: return EasyWizard::Page2;
        case 2: return EasyWizard::Page3;
        case 3: return EasyWizard::Page4;
        default: return -1;
    }
}

// Page 2 offers no button while the search runs.
bool EasyWizardPage::isComplete() const { return number_ != 2; }

// ---------------------------------------------------------------------------

EasyWizard::EasyWizard(SearchController& controller, QItemSelectionModel* shown, QWidget* parent)
    : QWizard(parent), controller_(controller), shown_(shown) {
    setObjectName(QStringLiteral("easyWizardSheet"));
    setWindowTitle(QStringLiteral("Wizard"));
    setFont(DialogFont());
    setWizardStyle(QWizard::ClassicStyle);
    // No system menu and so no close box: the wizard ends by its buttons.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    for (int i = 0; i < 5; ++i)
        setPage(Page1 + i, new EasyWizardPage(i + 1, kPictures[i], QString::fromUtf8(kGuidance[i])));
    setStartId(Page1);

    // Back on pages 3 and 4 goes straight to page 1 (page 2 is skipped).
    QAbstractButton* back = button(QWizard::BackButton);
    disconnect(back, &QAbstractButton::clicked, this, nullptr);
    connect(back, &QAbstractButton::clicked, this, &EasyWizard::onBack);
    connect(this, &QWizard::currentIdChanged, this, &EasyWizard::onPageChanged);
    connect(&controller_, &SearchController::searchFinished, this,
            [this](int resultCode) { SearchFinished(resultCode, controller_.session().FoundCount.load()); });
    connect(&controller_, &SearchController::filesSaved, this, &EasyWizard::onFilesSaved);
    connect(wizPage(Page4)->openFolderButton(), &QPushButton::clicked, this,
            [this] { OpenFolderWithDesktop(controller_, savedFolder_); });
}

void EasyWizard::onFilesSaved(const QString& folder, int saved, int failed, bool cancelled) {
    savedFolder_ = folder;
    QString text = QStringLiteral("%1 個のファイルを次のフォルダに保存しました:\n%2").arg(saved).arg(folder);
    if (failed > 0) text += QStringLiteral("\n保存できなかったファイル: %1 個").arg(failed);
    if (cancelled) text = QStringLiteral("保存を中断しました。") + text;
    wizPage(Page4)->setNote(text);
    wizPage(Page4)->openFolderButton()->show();
}

void EasyWizard::onPageChanged(int id) {
    // Page 2 hides every button, the sheet's Cancel included.
    if (id == Page2)
        setButtonLayout({QWizard::Stretch});
    else
        setButtonLayout({QWizard::Stretch, QWizard::BackButton, QWizard::NextButton, QWizard::FinishButton,
                         QWizard::CancelButton});
}

void EasyWizard::onBack() {
    if (currentId() == Page3 || currentId() == Page4)
        showPage1();
    else
        back();
}

void EasyWizard::showPage1() { restart(); }

bool EasyWizard::StartSearchFromPage1() {
    if (StartSearch(controller_, this) != SearchStarted) return false;
    searching_ = true;
    return true;
}

bool EasyWizard::SaveFromPage3() { return SaveFoundFiles(this, controller_, shown_) == QDialog::Accepted; }

void EasyWizard::SearchFinished(int resultCode, long long foundCount) {
    if (!searching_) return;
    searching_ = false;
    onPageChanged(-1);  // the buttons and Cancel come back
    // Page 3 says whether the search ended or was cancelled (then the files
    // found are only part of what the card holds).
    EasyWizardPage* found = wizPage(Page3);
    if (controller_.lastSearchCancelled()) {
        found->setArtwork(Picture::WizardPage3Partial, QString::fromUtf8(kPartialGuidance));
        found->setNote(QStringLiteral("検索を中断しました: 見つかったファイル %1 個は一部です。").arg(foundCount));
    } else {
        found->setArtwork(kPictures[2], QString::fromUtf8(kGuidance[2]));
        found->setNote(QString());
    }
    if (resultCode == 0 && foundCount > 0 && currentId() == Page2)
        next();
    else
        showPage1();
}

void EasyWizard::reject() {
    // While the search runs the wizard stays (Escape does nothing).
    if (searching_) return;
    QWizard::reject();
}

}  // namespace veld
