// The easy wizard: leads a beginner through a search and the saving of what
// it found, with one picture per page that carries the guidance.
//
//   page 1 (162)  Next starts a search (drive selection, options, worker)
//   page 2 (163)  the search runs: no buttons, Cancel hidden
//   page 3 (164)  files were found: Next opens the save dialog, Back page 1
//   page 4 (165)  saved: Finish closes, Back page 1
//   page 5 (162)  part of the sheet, never shown
// A search that finds nothing or fails brings back page 1; one cancelled
// after it found files shows page 3 with its own picture and a line saying
// the files are only part of what the card holds. Page 4 names the folder
// the files went into and offers to open it. The wizard does no work of its
// own: it starts the window's search through the controller, hears from it
// when the search has finished and what was saved, and runs the save dialog
// over the shown files.
#pragma once

#include <QLabel>
#include <QWizard>
#include <QWizardPage>

#include "ui/picture_loader.h"

class QCheckBox;
class QItemSelectionModel;
class QPushButton;

namespace veld {

class SearchController;

class EasyWizardPage : public QWizardPage {
    Q_OBJECT
public:
    // number: 1..5.
    EasyWizardPage(int number, Picture picture, const QString& guidance, QWidget* parent = nullptr);

    int number() const { return number_; }
    QLabel* pictureFrame() const { return picture_; }
    // Page 1's "起動時に簡単復活ウィザードを表示しない" (null on the others).
    QCheckBox* notOpenBox() const { return notOpen_; }
    // The guidance the page's picture shows (also its accessible description).
    QString guidance() const { return guidance_; }
    // Shows another picture with its guidance (page 3 after a cancelled search).
    void setArtwork(Picture picture, const QString& guidance);
    Picture artwork() const { return artwork_; }
    // A line under the picture ("" hides it).
    void setNote(const QString& text);
    QLabel* noteLabel() const { return note_; }
    // Page 4's "保存先フォルダを開く" (null on the others).
    QPushButton* openFolderButton() const { return openFolder_; }

    void initializePage() override;
    bool validatePage() override;
    int nextId() const override;
    bool isComplete() const override;

private:
    void loadPicture();
    int number_;
    Picture artwork_;
    QString guidance_;
    bool pictureLoaded_ = false;
    QLabel* picture_ = nullptr;
    QLabel* note_ = nullptr;
    QCheckBox* notOpen_ = nullptr;
    QPushButton* openFolder_ = nullptr;
};

class EasyWizard : public QWizard {
    Q_OBJECT
public:
    // Page numbers as ids.
    enum Page { Page1 = 0, Page2 = 1, Page3 = 2, Page4 = 3, Page5 = 4 };

    // shown: the views' selection over the rows they show (what page 3 saves).
    EasyWizard(SearchController& controller, QItemSelectionModel* shown, QWidget* parent = nullptr);

    // The search the wizard started has finished: page 3 when it succeeded
    // and found files, else page 1.
    void SearchFinished(int resultCode, long long foundCount);

    bool searching() const { return searching_; }
    EasyWizardPage* wizPage(int id) const { return static_cast<EasyWizardPage*>(page(id)); }

    // Page 1's Next: starts the search; false when it did not start.
    bool StartSearchFromPage1();
    // Page 3's Next: the save dialog; true when it saved.
    bool SaveFromPage3();

public slots:
    void reject() override;

private:
    void onPageChanged(int id);
    void onBack();
    void showPage1();
    void onFilesSaved(const QString& folder, int saved, int failed, bool cancelled);

    SearchController& controller_;
    QItemSelectionModel* shown_;
    bool searching_ = false;
    QString savedFolder_;
};

}  // namespace veld
