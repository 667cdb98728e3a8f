#include "ui/main/category_tree_widget.h"

#include <QDragMoveEvent>
#include <QDropEvent>

#include <unordered_map>

#include "support/image_list.h"
#include "support/qt_text.h"

namespace hanabira {

namespace {

void AddChildren(QTreeWidgetItem* parent, const std::vector<TreeNode>& nodes) {
    for (const TreeNode& n : nodes) {
        QTreeWidgetItem* item = CategoryTreeWidget::NewNode(n.Text, n.ImageIndex, n.SelectedIndex, n.StateIndex);
        parent->addChild(item);
        AddChildren(item, n.Children);
    }
}

TreeNode ToNode(const QTreeWidgetItem* item) {
    TreeNode n;
    n.Text = CategoryTreeWidget::NodeText(item);
    n.ImageIndex = item->data(0, CategoryTreeWidget::ImageRole).toInt();
    n.SelectedIndex = item->data(0, CategoryTreeWidget::SelectedImageRole).toInt();
    n.StateIndex = item->data(0, CategoryTreeWidget::StateImageRole).toInt();
    for (int i = 0; i < item->childCount(); ++i) n.Children.push_back(ToNode(item->child(i)));
    return n;
}

}  // namespace

CategoryTreeWidget::CategoryTreeWidget(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIndentation(19);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDropIndicatorShown(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

QTreeWidgetItem* CategoryTreeWidget::NewNode(const std::string& textSjis, int image, int selectedImage,
                                             int stateImage) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, SjisToQString(textSjis));
    item->setData(0, Qt::UserRole, QByteArray(textSjis.data(), static_cast<qsizetype>(textSjis.size())));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled);
    SetImages(item, image, selectedImage, stateImage);
    return item;
}

std::string CategoryTreeWidget::NodeText(const QTreeWidgetItem* item) {
    // The Shift_JIS bytes are kept as they were read, so a name that Unicode cannot round-trip
    // is still saved unchanged.
    const QByteArray raw = item->data(0, Qt::UserRole).toByteArray();
    return std::string(raw.constData(), static_cast<size_t>(raw.size()));
}

void CategoryTreeWidget::SetImages(QTreeWidgetItem* item, int image, int selectedImage, int stateImage) {
    item->setData(0, ImageRole, image);
    item->setData(0, SelectedImageRole, selectedImage);
    item->setData(0, StateImageRole, stateImage);
    item->setIcon(0, TreeNodeIcon(image, selectedImage));
}

CategoryTree CategoryTreeWidget::ToCategoryTree() const {
    CategoryTree tree;
    for (int i = 0; i < topLevelItemCount(); ++i) tree.push_back(ToNode(topLevelItem(i)));
    return tree;
}

void CategoryTreeWidget::LoadCategoryTree(const CategoryTree& tree) {
    setUpdatesEnabled(false);
    clear();
    for (const TreeNode& n : tree) {
        QTreeWidgetItem* item = NewNode(n.Text, n.ImageIndex, n.SelectedIndex, n.StateIndex);
        addTopLevelItem(item);
        AddChildren(item, n.Children);
    }
    setUpdatesEnabled(true);
}

QTreeWidgetItem* CategoryTreeWidget::NextInTreeOrder(QTreeWidgetItem* item) const {
    if (!item) return nullptr;
    if (item->childCount() > 0) return item->child(0);
    for (QTreeWidgetItem* cur = item; cur;) {
        QTreeWidgetItem* parent = cur->parent();
        const int index = parent ? parent->indexOfChild(cur) : indexOfTopLevelItem(cur);
        const int siblings = parent ? parent->childCount() : topLevelItemCount();
        if (index + 1 < siblings) return parent ? parent->child(index + 1) : topLevelItem(index + 1);
        cur = parent;
    }
    return nullptr;
}

QList<QTreeWidgetItem*> CategoryTreeWidget::AllNodes() const {
    QList<QTreeWidgetItem*> nodes;
    if (topLevelItemCount() == 0) return nodes;
    for (QTreeWidgetItem* it = topLevelItem(0); it; it = NextInTreeOrder(it)) nodes << it;
    return nodes;
}

namespace {
int AddFoldersBelow(CategoryTreeWidget* tree, QTreeWidgetItem* parent, const CategoryTree& folders,
                    std::unordered_map<std::string, QTreeWidgetItem*>& byName) {
    int added = 0;
    for (const TreeNode& folder : folders) {
        QTreeWidgetItem*& item = byName[folder.Text];
        if (!item) {
            item = CategoryTreeWidget::NewNode(folder.Text, folder.ImageIndex, folder.SelectedIndex,
                                               folder.StateIndex);
            if (parent)
                parent->addChild(item);
            else
                tree->addTopLevelItem(item);
            ++added;
        }
        added += AddFoldersBelow(tree, item, folder.Children, byName);
    }
    return added;
}
}  // namespace

int CategoryTreeWidget::AddFolders(const CategoryTree& folders) {
    std::unordered_map<std::string, QTreeWidgetItem*> byName;
    for (QTreeWidgetItem* node : AllNodes()) byName.emplace(NodeText(node), node);
    return AddFoldersBelow(this, topLevelItem(0), folders, byName);
}

void CategoryTreeWidget::dragEnterEvent(QDragEnterEvent* event) { event->acceptProposedAction(); }

void CategoryTreeWidget::dragMoveEvent(QDragMoveEvent* event) {
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    bool accept = false;
    try {
        accept = DragOverHandler && DragOverHandler(target, event->source());
    } catch (...) {
        accept = false;  // any failure while deciding refuses the drop
    }
    if (accept)
        event->acceptProposedAction();
    else
        event->ignore();
}

void CategoryTreeWidget::dropEvent(QDropEvent* event) {
    QTreeWidgetItem* target = itemAt(event->position().toPoint());
    QObject* source = event->source();
    // The drop is carried out by the window; the view must not move items on its own.
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
    if (DropHandler) DropHandler(target, source);
}

}  // namespace hanabira
