// The modal preview of a found picture: the picture fitted into the window,
// or at its own size with scroll bars; the space bar switches between the
// two and the choice is kept in [BMPV] DISPALL. The window rectangle is kept
// under [WindowPos] BmpViewSimple when window positions are saved. With a
// page turner, the arrow keys (and Page Up/Down) show the previous or next
// picture in the order the views show them.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

class QScrollBar;

namespace veld {

// The list opens pictures scaled to this box (kept aspect, on white).
constexpr int kPreviewWidth = 480;
constexpr int kPreviewHeight = 640;

// A new image of exactly width x height, white, with the picture stretched
// into the largest centred rectangle of its aspect ratio. Null when the
// picture or the size is empty.
QImage ScaleImageOnWhite(const QImage& picture, int width, int height);

// Whether the preview stores its rectangle on close ([VELD] SaveWndPos,
// read by the main frame).
void SetPreviewSavesWindowRect(bool save);
bool PreviewSavesWindowRect();

// The picture preview of a found file.
class PreviewWindow : public QDialog {
    Q_OBJECT
public:
    explicit PreviewWindow(QWidget* parent = nullptr);
    ~PreviewWindow() override;

    // Makes the picture page 0 with the caption and runs the window modally.
    int Show(const QImage& picture, const QString& caption);
    // Adds a page without running the window (Show and the tests use it).
    void AddPage(const QImage& picture, const QString& caption);

    // Gives the picture step files away (-1 previous, +1 next) with its
    // caption; false when there is none that way.
    using PageTurner = std::function<bool(int step, QImage* picture, QString* caption)>;
    void setPageTurner(PageTurner turner) { turner_ = std::move(turner); }
    // Shows the picture one step away, as the arrow keys do; false when
    // there is none.
    bool TurnPage(int step);

    // 1: fit the picture into the window, 0: own size with scrolling.
    int displayMode() const { return fitMode_ ? 1 : 0; }
    void toggleDisplayMode();
    QSize pictureSize() const { return current_.size(); }
    const QImage& picture() const { return current_; }
    // Scroll ranges (picture size - client size, not below 0; 0 in fit mode).
    int horizontalRange() const;
    int verticalRange() const;
    QScrollBar* horizontalBar() const { return hbar_; }
    QScrollBar* verticalBar() const { return vbar_; }
    // Where the picture was drawn last (client coordinates).
    QRect pictureRect() const { return drawn_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void done(int result) override;

private:
    void layoutBars();
    void updateRanges();

    std::vector<QImage> pages_;  // at most 256
    QImage current_;
    QString caption_;
    bool fitMode_ = true;
    PageTurner turner_;
    int allPageConvert_ = 0;
    QRect drawn_;
    QScrollBar* hbar_ = nullptr;
    QScrollBar* vbar_ = nullptr;
};

}  // namespace veld
