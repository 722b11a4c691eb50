// The hexadecimal dump dialog: a file (or a memory buffer) shown page by page
// as offset, sixteen hexadecimal bytes and their characters per row.
#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace veld {

// The hex dump of an extracted found file, one page at a time.
class HexDumpDialog : public QDialog {
    Q_OBJECT
public:
    explicit HexDumpDialog(QWidget* parent = nullptr);
    ~HexDumpDialog() override;

    // Memory source: page size 1024, page 0.
    void setMemory(const QByteArray& bytes);
    // File source (wins over memory when not empty).
    void setFilePath(const QString& path);
    void setPageSize(int bytes);
    void setPage(int page);

    int page() const { return page_; }
    int pageSize() const { return pageSize_; }
    int64_t dataSize() const { return size_; }
    int pageCount() const;
    // The lines of the listing as shown.
    QStringList lines() const;
    QListWidget* listing() const { return list_; }
    QPushButton* previousButton() const { return previous_; }
    QPushButton* nextButton() const { return next_; }

    // Fills the listing with the current page.
    void showPage();

    // One listing row: offset, hexadecimal bytes (blanks at and after
    // dataSize), the characters. bytes holds the row's 16 bytes (fewer are
    // taken as zeros).
    static QString RowText(int64_t offset, const uint8_t* bytes, size_t count, int64_t dataSize);

public slots:
    void onPrevious();
    void onNext();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QString path_;
    QByteArray memory_;
    int64_t size_ = 0;
    int pageSize_ = 1024;
    int page_ = 0;
    bool shownOnce_ = false;
    QListWidget* list_ = nullptr;
    QPushButton* previous_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace veld
