#include "ui/viewers/hex_dump_dialog.h"

#include <QFile>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>

#include "base/trace.h"
#include "ui/dialog_units.h"

namespace veld {

namespace {

constexpr int kRowBytes = 16;
const char* const kColumnLine = "          00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\r\n";

QString ListText(const char* text) {
    // The listing shows one line per row; line ends are not drawn.
    QString line = QString::fromUtf8(text);
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r'))) line.chop(1);
    return line;
}

}  // namespace

HexDumpDialog::HexDumpDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("dumpDialog"));
    setWindowTitle(QStringLiteral("Dump"));
    setFont(DialogFont());
    DialogUnits du = DialogUnitsOf(font());
    list_ = new QListWidget;
    list_->setObjectName(QStringLiteral("dumpListing"));
    list_->setFont(QFont(QStringLiteral("ＭＳ ゴシック"), 10));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    previous_ = new QPushButton(QStringLiteral("<<"));
    next_ = new QPushButton(QStringLiteral(">>"));
    ok_ = new QPushButton(QStringLiteral("OK"));
    ok_->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(previous_);
    buttons->addWidget(next_);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
    resize(du.size(414, 303));
    connect(previous_, &QPushButton::clicked, this, &HexDumpDialog::onPrevious);
    connect(next_, &QPushButton::clicked, this, &HexDumpDialog::onNext);
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

HexDumpDialog::~HexDumpDialog() = default;

void HexDumpDialog::setMemory(const QByteArray& bytes) {
    memory_ = bytes;
    size_ = bytes.size();
    pageSize_ = 1024;
    page_ = 0;
}

void HexDumpDialog::setFilePath(const QString& path) { path_ = path; }
void HexDumpDialog::setPageSize(int bytes) { pageSize_ = bytes > 0 ? bytes : 1024; }
void HexDumpDialog::setPage(int page) { page_ = page < 0 ? 0 : page; }

int HexDumpDialog::pageCount() const {
    if (pageSize_ <= 0) return 0;
    return int((size_ + pageSize_ - 1) / pageSize_);
}

QStringList HexDumpDialog::lines() const {
    QStringList out;
    for (int i = 0; i < list_->count(); ++i) out << list_->item(i)->text();
    return out;
}

QString HexDumpDialog::RowText(int64_t offset, const uint8_t* bytes, size_t count, int64_t dataSize) {
    uint8_t row[kRowBytes] = {};
    if (bytes) std::memcpy(row, bytes, count < size_t(kRowBytes) ? count : size_t(kRowBytes));
    char text[128];
    int n = std::snprintf(text, sizeof text, "%08llX: ", static_cast<unsigned long long>(offset));
    for (int i = 0; i < kRowBytes; ++i) {
        if (offset + i < dataSize) n += std::snprintf(text + n, sizeof text - size_t(n), "%02X ", row[i]);
        else n += std::snprintf(text + n, sizeof text - size_t(n), "   ");
    }
    n += std::snprintf(text + n, sizeof text - size_t(n), " |");
    for (int i = 0; i < kRowBytes; ++i) text[n++] = (row[i] >= 0x20 && row[i] <= 0x7E) ? char(row[i]) : '.';
    text[n] = 0;
    return QString::fromLatin1(text) + QStringLiteral("| ");
}

void HexDumpDialog::showPage() {
    previous_->setEnabled(false);
    next_->setEnabled(false);
    const bool fileMode = !path_.isEmpty();
    QFile file(path_);
    bool opened = true;
    if (fileMode) {
        if (!file.open(QIODevice::ReadOnly)) {
            opened = false;
            ErrorBox(this, "ファイルをオープンできません\n%s: %s", path_.toUtf8().constData(),
                     file.errorString().toUtf8().constData());
        } else {
            size_ = file.size();
        }
    }
    if (opened) {
        list_->clear();
        char header[160];
        std::snprintf(header, sizeof header, "全サイズ:%lld セクタサイズ:%d PAGE:%d/%d", static_cast<long long>(size_),
                      pageSize_, page_, pageCount());
        list_->addItem(ListText(header));
        list_->addItem(ListText(kColumnLine));
        const int64_t pageStart = int64_t(page_) * pageSize_;
        if (fileMode) file.seek(pageStart);
        for (int inPage = 0; inPage < pageSize_; inPage += kRowBytes) {
            const int64_t offset = pageStart + inPage;
            uint8_t row[kRowBytes] = {};
            size_t count = 0;
            if (fileMode) {
                qint64 got = file.read(reinterpret_cast<char*>(row), kRowBytes);
                count = got > 0 ? size_t(got) : 0;
            } else if (offset < memory_.size()) {
                count = size_t(qMin<int64_t>(kRowBytes, memory_.size() - offset));
                std::memcpy(row, memory_.constData() + offset, count);
            }
            list_->addItem(RowText(offset, row, count, size_));
        }
        list_->addItem(QStringLiteral("...Done"));
    }
    previous_->setEnabled(page_ > 0);
    next_->setEnabled(page_ + 1 < pageCount());
}

void HexDumpDialog::onPrevious() {
    if (page_ > 0) --page_;
    showPage();
}

void HexDumpDialog::onNext() {
    ++page_;
    showPage();
}

void HexDumpDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    showPage();
}

}  // namespace veld
