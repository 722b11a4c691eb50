#include "ui/found_file_states.h"

#include "base/file_name_kind.h"
#include "search/found_file_columns.h"

namespace veld {
namespace {

constexpr QRgb kGoodColour = qRgb(46, 150, 70);
constexpr QRgb kPartialColour = qRgb(224, 150, 0);
constexpr QRgb kDamagedColour = qRgb(208, 48, 48);
constexpr QRgb kOverwrittenColour = qRgb(120, 96, 176);

// One row per state text of the "状態" column.
constexpr StateLook kStateLooks[] = {
    {"良", StateGroup::Good, kGoodColour, "ファイル全体がカードに残っています。保存すれば元どおりに戻ります。"},
    {"一部欠損", StateGroup::Partial, kPartialColour,
     "写真のデータの終わりが見つかりません。保存できますが、画像の下の方が欠けることがあります。"},
    {"断片化", StateGroup::Partial, kPartialColour,
     "ファイルのクラスタが数字の割合だけ集まりました。保存できますが、後ろの方が欠けたり別のデータが混じったりします。"},
    {"サイズが0", StateGroup::Damaged, kDamagedColour,
     "サイズが0と記録されたファイルです。保存しても中身のないファイルになります。"},
    {"破損ファイル", StateGroup::Damaged, kDamagedColour,
     "中身が名前の形式のデータではありません。保存しても開けないことがあります。"},
    {"内容が一致しません", StateGroup::Damaged, kDamagedColour,
     "カードのデータがファイルの記録 (大きさや形式) と合いません。保存しても一部しか見られないか、開けないことがあります。"},
    {"別ﾌｧｲﾙが使用", StateGroup::Overwritten, kOverwrittenColour,
     "ファイルの場所を別のファイルが使っています。保存しても元の内容は戻りません。"},
    {"上書きされています", StateGroup::Overwritten, kOverwrittenColour,
     "削除のあとに書かれた別のファイルのデータが、このファイルの場所にあります。保存しても元の内容は戻りません。"},
};

// A state without a row of its own.
constexpr StateLook kUnknownLook{"", StateGroup::Damaged, kDamagedColour,
                                 "状態を判定できませんでした。保存しても開けないことがあります。"};

}  // namespace

std::span<const StateLook> StateLooks() { return kStateLooks; }

const StateLook& StateLookOfText(const QString& stateText) {
    const QString word = stateText.trimmed().section(QLatin1Char(' '), 0, 0);
    if (word.isEmpty()) return kUnknownLook;
    for (const StateLook& look : kStateLooks)
        if (word == QString::fromUtf8(look.text)) return look;
    return kUnknownLook;
}

const StateLook& StateLookOf(const DelFileInfo& record) {
    return StateLookOfText(QString::fromStdString(FoundFileStateText(record)));
}

QString StateGroupName(StateGroup group) {
    switch (group) {
    case StateGroup::Good: return QStringLiteral("良");
    case StateGroup::Partial: return QStringLiteral("一部");
    case StateGroup::Damaged: return QStringLiteral("破損");
    case StateGroup::Overwritten: return QStringLiteral("上書き");
    }
    return {};
}

QString StateGroupPromise(StateGroup group) {
    switch (group) {
    case StateGroup::Good: return QStringLiteral("そのまま復元できます");
    case StateGroup::Partial: return QStringLiteral("一部だけ復元できます");
    case StateGroup::Damaged: return QStringLiteral("開けないことがあります");
    case StateGroup::Overwritten: return QStringLiteral("元の内容は戻りません");
    }
    return {};
}

QColor StateGroupColour(StateGroup group) {
    switch (group) {
    case StateGroup::Good: return QColor(kGoodColour);
    case StateGroup::Partial: return QColor(kPartialColour);
    case StateGroup::Damaged: return QColor(kDamagedColour);
    case StateGroup::Overwritten: return QColor(kOverwrittenColour);
    }
    return {};
}

KindGroup KindGroupOf(const DelFileInfo& record) {
    switch (ClassifyFileName(FoundFileColumnText(record, ColName))) {
    case KindPicture: return KindGroup::Pictures;
    case KindMovie: return KindGroup::Videos;
    default: return KindGroup::Others;
    }
}

QString KindGroupName(KindGroup kind) {
    switch (kind) {
    case KindGroup::Pictures: return QStringLiteral("画像");
    case KindGroup::Videos: return QStringLiteral("動画");
    case KindGroup::Others: return QStringLiteral("その他");
    }
    return {};
}

}  // namespace veld
