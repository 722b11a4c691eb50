#include "ui/main/found_file_tree.h"

#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMimeDatabase>
#include <QStyle>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

#include "base/format_text.h"
#include "finder/media_format.h"
#include "ui/clipped_text_tip.h"
#include "ui/found_file_filter.h"
#include "ui/search_controller.h"

namespace veld {

namespace {

// Item data role of a node's code.
constexpr int kNodeCodeRole = Qt::UserRole + 1;

QIcon StockIcon(QStyle::StandardPixmap which) { return QApplication::style()->standardIcon(which); }

// The desktop's icon of a file named "temp.<ext>", or the generic file icon.
QIcon ExtensionIcon(const std::string& extension) {
    static QMimeDatabase database;
    QMimeType type = database.mimeTypeForFile(QStringLiteral("temp.") + QString::fromStdString(extension),
                                              QMimeDatabase::MatchExtension);
    QIcon icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
    if (icon.isNull()) icon = StockIcon(QStyle::SP_FileIcon);
    return icon;
}

}  // namespace

std::string FilterExtensionOfNodeText(const std::string& text) {
    // The last "[" that follows a blank ends the extension.
    size_t bracket = std::string::npos;
    for (size_t i = text.size(); i-- > 1;) {
        if (text[i] == '[' && text[i - 1] == ' ') {
            bracket = i - 1;
            break;
        }
    }
    if (bracket == std::string::npos || bracket == 0) return "";
    size_t begin = text[0] == '.' ? 1 : 0;
    std::string extension = bracket > begin ? text.substr(begin, bracket - begin) : std::string();
    TrimBlanks(extension);
    UpperAscii(extension);
    if (extension.empty()) extension = "   ";
    return extension;
}

FoundFileTree::FoundFileTree(SearchController& controller, FoundFileFilter& filter, QWidget* parent)
    : QWidget(parent), controller_(controller), filter_(filter) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    tab_ = new QTabWidget(this);
    tab_->setObjectName(QStringLiteral("resultTab"));
    tab_->setFont(QFont(QStringLiteral("ＭＳ 明朝"), 10));
    tree_ = new QTreeWidget;
    tree_->setObjectName(QStringLiteral("foundFileTree"));
    tree_->setFont(font());
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setItemDelegate(new ClippedTextTipDelegate(tree_));
    tab_->addTab(tree_, QStringLiteral("検索結果"));
    layout->addWidget(tab_);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &FoundFileTree::onSelectionChanged);
    connect(&controller_, &SearchController::resultsCleared, this, &FoundFileTree::Rebuild);
    connect(&controller_, &SearchController::searchFinished, this, &FoundFileTree::Rebuild);
    connect(&controller_, &SearchController::commandsEnabledChanged, this, &QWidget::setEnabled);
    setEnabled(controller_.commandsEnabled());
    Rebuild();
}

QTreeWidgetItem* FoundFileTree::rootNode() const { return tree_->topLevelItemCount() ? tree_->topLevelItem(0) : nullptr; }

int FoundFileTree::preferredWidth() const {
    QTreeWidgetItem* root = rootNode();
    if (!root) return 0;
    // The widest of the root and its groups as drawn now, with room for more
    // digits than the count has, the tree's frame and the tab's around it.
    const int decorated = tree_->rootIsDecorated() ? 1 : 0;
    int cell = 0;
    auto measure = [&](QTreeWidgetItem* item, int level) {
        const int width = tree_->sizeHintForIndex(tree_->indexFromItem(item)).width();
        cell = qMax(cell, tree_->indentation() * (level + decorated) + width);
    };
    measure(root, 0);
    for (int i = 0; i < root->childCount(); ++i) measure(root->child(i), 1);
    const int digits = tree_->fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    const int tabFrame = qMax(0, tab_->sizeHint().width() - tree_->sizeHint().width());
    return cell + digits + 2 * tree_->frameWidth() + tabFrame;
}

void FoundFileTree::SetTabTitle() {
    while (tab_->count() > 0) tab_->removeTab(0);
    tab_->addTab(tree_, QStringLiteral("検索結果"));
}

void FoundFileTree::Rebuild() {
    rebuilding_ = true;
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    filter_.setFilter(DisplayFilter{});

    char text[128];
    std::snprintf(text, sizeof text, "見つかったファイル(%d)", int(controller_.session().FoundCount.load()));
    auto* root = new QTreeWidgetItem(QStringList(QString::fromUtf8(text)));
    root->setIcon(0, StockIcon(QStyle::SP_DriveHDIcon));
    root->setData(0, kNodeCodeRole, NodeAll);
    tree_->addTopLevelItem(root);
    auto* pictures = new QTreeWidgetItem(root, QStringList(QStringLiteral("画像ファイル")));
    pictures->setIcon(0, StockIcon(QStyle::SP_DirIcon));
    pictures->setData(0, kNodeCodeRole, NodePictures);
    auto* others = new QTreeWidgetItem(root, QStringList(QStringLiteral("その他")));
    others->setIcon(0, StockIcon(QStyle::SP_DirIcon));
    others->setData(0, kNodeCodeRole, NodeOthers);

    // Extension nodes in the order the search met the extensions.
    controller_.session().ExtensionTally.ForEach([&](ExtensionCount& tally) {
        std::string typeName = TypeNameOfExtension(tally.extension);
        std::string label(tally.extension.size() + typeName.size() + 32, '\0');
        int n = std::snprintf(label.data(), label.size(), ".%s [(%3d)%s]", tally.extension.c_str(), int(tally.count),
                              typeName.c_str());
        label.resize(size_t(n > 0 ? n : 0));
        bool picture = ExtensionIsPicture(tally.extension);
        auto* node = new QTreeWidgetItem(picture ? pictures : others, QStringList(QString::fromStdString(label)));
        node->setIcon(0, ExtensionIcon(tally.extension));
        node->setData(0, kNodeCodeRole, picture ? NodePictureExtension : NodeOtherExtension);
        return true;
    });

    root->setExpanded(true);
    pictures->setExpanded(true);
    others->setExpanded(true);
    tree_->setCurrentItem(root);
    root->setSelected(true);
    rebuilding_ = false;
    tree_->setUpdatesEnabled(true);
}

void FoundFileTree::onSelectionChanged() {
    if (rebuilding_) return;
    QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    QTreeWidgetItem* node = selected.first();
    DisplayFilter chosen;
    chosen.node = node->data(0, kNodeCodeRole).toInt();
    if (chosen.node == NodePictureExtension || chosen.node == NodeOtherExtension)
        chosen.extension = FilterExtensionOfNodeText(node->text(0).toStdString());
    filter_.setFilter(chosen);
}

}  // namespace veld
