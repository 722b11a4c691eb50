#include "ui/main/found_file_tree.h"

#include <functional>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QPainter>
#include <QTimer>
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

// A dot of a state group's colour, the legend of the boxes and the views.
QIcon ColourDot(const QColor& colour) {
    QPixmap dot(12, 12);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(130));
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    return QIcon(dot);
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
    // The tab holds the tree and, under it, the filter boxes.
    page_ = new QWidget;
    auto* pageLayout = new QVBoxLayout(page_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->setSpacing(2);
    pageLayout->addWidget(tree_, 1);
    pageLayout->addWidget(makeFilterBoxes());
    tab_->addTab(page_, QStringLiteral("検索結果"));
    layout->addWidget(tab_);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &FoundFileTree::onSelectionChanged);
    connect(&controller_, &SearchController::resultsCleared, this, &FoundFileTree::Rebuild);
    connect(&controller_, &SearchController::searchFinished, this, &FoundFileTree::Rebuild);
    countTimer_ = new QTimer(this);
    countTimer_->setSingleShot(true);
    countTimer_->setInterval(300);
    connect(countTimer_, &QTimer::timeout, this, &FoundFileTree::updateCounts);
    connect(&controller_, &SearchController::fileFound, countTimer_, [this] {
        if (!countTimer_->isActive()) countTimer_->start();
    });
    connect(&filter_, &QAbstractItemModel::modelReset, this, &FoundFileTree::updateCounts);
    connect(&controller_, &SearchController::commandsEnabledChanged, this, &QWidget::setEnabled);
    setEnabled(controller_.commandsEnabled());
    Rebuild();
}

QTreeWidgetItem* FoundFileTree::rootNode() const { return tree_->topLevelItemCount() ? tree_->topLevelItem(0) : nullptr; }

int FoundFileTree::preferredWidth() const {
    QTreeWidgetItem* root = rootNode();
    if (!root) return 0;
    // The widest label as drawn now, with room for more
    // digits than the count has, the tree's frame and the tab's around it.
    const int decorated = tree_->rootIsDecorated() ? 1 : 0;
    int cell = 0;
    auto measure = [&](QTreeWidgetItem* item, int level) {
        const int width = tree_->sizeHintForIndex(tree_->indexFromItem(item)).width();
        cell = qMax(cell, tree_->indentation() * (level + decorated) + width);
    };
    // Every label shown: the root, its groups and their open branches.
    std::function<void(QTreeWidgetItem*, int)> visit = [&](QTreeWidgetItem* item, int level) {
        measure(item, level);
        if (level == 0 || item->isExpanded())
            for (int i = 0; i < item->childCount(); ++i) visit(item->child(i), level + 1);
    };
    visit(root, 0);
    const int digits = tree_->fontMetrics().horizontalAdvance(QStringLiteral("0000"));
    const int tabFrame = qMax(0, tab_->sizeHint().width() - tree_->sizeHint().width());
    return cell + digits + 2 * tree_->frameWidth() + tabFrame;
}

void FoundFileTree::SetTabTitle() {
    while (tab_->count() > 0) tab_->removeTab(0);
    tab_->addTab(page_, QStringLiteral("検索結果"));
}

QWidget* FoundFileTree::makeFilterBoxes() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(2, 0, 2, 2);
    auto* states = new QGroupBox(QStringLiteral("状態で絞り込む"));
    states->setObjectName(QStringLiteral("stateFilter"));
    auto* stateLayout = new QVBoxLayout(states);
    stateLayout->setSpacing(0);
    for (int group = 0; group < kStateGroupCount; ++group) {
        auto* box = new QCheckBox;
        box->setObjectName(QStringLiteral("stateFilter%1").arg(group));
        box->setIcon(ColourDot(StateGroupColour(StateGroup(group))));
        box->setChecked(true);
        // What the group's states mean, said where the user chooses them.
        QStringList lines;
        for (const StateLook& look : StateLooks())
            if (look.group == StateGroup(group))
                lines << QStringLiteral("%1: %2").arg(QString::fromUtf8(look.text), QString::fromUtf8(look.explanation));
        box->setToolTip(lines.join(QLatin1Char('\n')));
        connect(box, &QCheckBox::toggled, this, &FoundFileTree::onBoxToggled);
        stateLayout->addWidget(box);
        stateBoxes_[group] = box;
    }
    auto* kinds = new QGroupBox(QStringLiteral("種類で絞り込む"));
    kinds->setObjectName(QStringLiteral("kindFilter"));
    auto* kindLayout = new QVBoxLayout(kinds);
    kindLayout->setSpacing(0);
    for (int kind = 0; kind < kKindGroupCount; ++kind) {
        auto* box = new QCheckBox;
        box->setObjectName(QStringLiteral("kindFilter%1").arg(kind));
        box->setChecked(true);
        connect(box, &QCheckBox::toggled, this, &FoundFileTree::onBoxToggled);
        kindLayout->addWidget(box);
        kindBoxes_[kind] = box;
    }
    layout->addWidget(states);
    layout->addWidget(kinds);
    return panel;
}

void FoundFileTree::onBoxToggled() {
    if (rebuilding_) return;
    DisplayFilter chosen = filter_.filter();
    chosen.stateGroups = 0;
    chosen.kinds = 0;
    for (int group = 0; group < kStateGroupCount; ++group)
        if (stateBoxes_[group]->isChecked()) chosen.stateGroups |= GroupBit(StateGroup(group));
    for (int kind = 0; kind < kKindGroupCount; ++kind)
        if (kindBoxes_[kind]->isChecked()) chosen.kinds |= GroupBit(KindGroup(kind));
    filter_.setFilter(chosen);
}

void FoundFileTree::showFilterOnBoxes() {
    const DisplayFilter& shown = filter_.filter();
    for (int group = 0; group < kStateGroupCount; ++group) {
        const QSignalBlocker quiet(stateBoxes_[group]);
        stateBoxes_[group]->setChecked(shown.stateGroups & GroupBit(StateGroup(group)));
    }
    for (int kind = 0; kind < kKindGroupCount; ++kind) {
        const QSignalBlocker quiet(kindBoxes_[kind]);
        kindBoxes_[kind]->setChecked(shown.kinds & GroupBit(KindGroup(kind)));
    }
}

void FoundFileTree::updateCounts() {
    countTimer_->stop();
    const FilterCounts counts = filter_.counts();
    for (int group = 0; group < kStateGroupCount; ++group)
        stateBoxes_[group]->setText(
            QStringLiteral("%1 (%2)").arg(StateGroupName(StateGroup(group))).arg(counts.states[group]));
    for (int kind = 0; kind < kKindGroupCount; ++kind)
        kindBoxes_[kind]->setText(QStringLiteral("%1 (%2)").arg(KindGroupName(KindGroup(kind))).arg(counts.kinds[kind]));
}

void FoundFileTree::Rebuild() {
    rebuilding_ = true;
    tree_->setUpdatesEnabled(false);
    tree_->clear();
    filter_.setFilter(DisplayFilter{});
    showFilterOnBoxes();

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
    updateCounts();
}

void FoundFileTree::onSelectionChanged() {
    if (rebuilding_) return;
    QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    QTreeWidgetItem* node = selected.first();
    // The boxes' choice stays; the node and its extension change.
    DisplayFilter chosen = filter_.filter();
    chosen.node = node->data(0, kNodeCodeRole).toInt();
    chosen.extension.clear();
    if (chosen.node == NodePictureExtension || chosen.node == NodeOtherExtension)
        chosen.extension = FilterExtensionOfNodeText(node->text(0).toStdString());
    filter_.setFilter(chosen);
}

}  // namespace veld
