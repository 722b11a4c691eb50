#include "ui/system_error_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace veld {

namespace {

struct ErrnoReason {
    int error;
    const char* text;
};

// What opening a card, an image or a folder most often runs into.
constexpr ErrnoReason kReasons[] = {
    {ENOENT, "ファイルがありません"},
    {EACCES, "アクセスが拒否されました (開く権限がありません)"},
    {EPERM, "操作が許可されていません"},
    {EISDIR, "フォルダです (ファイルではありません)"},
    {ENOTDIR, "パスの途中にフォルダでないものがあります"},
    {EIO, "入出力エラー (読み書きできません)"},
    {ENXIO, "デバイスがありません (カードが抜かれたかもしれません)"},
    {ENODEV, "デバイスがありません"},
    {ENOMEDIUM, "カードが入っていません"},
    {EBUSY, "ほかのプログラムが使用中です"},
    {ELOOP, "シンボリックリンクが循環しています"},
    {ENAMETOOLONG, "名前が長すぎます"},
    {EROFS, "読み取り専用です"},
    {ENOSPC, "空き容量が足りません"},
    {EMFILE, "開いているファイルが多すぎます"},
    {ENFILE, "開いているファイルが多すぎます"},
    {EFBIG, "ファイルが大きすぎます"},
    {EOVERFLOW, "ファイルが大きすぎます"},
};

}  // namespace

QString WithJapaneseReasons(const std::string& text) {
    // The library's wordings, longest first: "No such device" is the start
    // of "No such device or address".
    std::vector<std::pair<std::string, const char*>> wordings;
    for (const ErrnoReason& reason : kReasons) wordings.emplace_back(std::strerror(reason.error), reason.text);
    std::stable_sort(wordings.begin(), wordings.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    QString result = QString::fromStdString(text);
    for (const auto& [english, japanese] : wordings)
        if (!english.empty()) result.replace(QString::fromStdString(english), QString::fromUtf8(japanese));
    return result;
}

}  // namespace veld
