#pragma once
// The category tree of the main window: a tree widget whose items carry the image indices of the
// data file, and whose drag and drop is decided by the window.
#include <QTreeWidget>

#include <functional>
#include <string>

#include "store/category_tree.h"

namespace hanabira {

class CategoryTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit CategoryTreeWidget(QWidget* parent = nullptr);

    // The live tree in its stored form, and back.
    CategoryTree ToCategoryTree() const;
    void LoadCategoryTree(const CategoryTree& tree);

    static QTreeWidgetItem* NewNode(const std::string& textSjis, int image, int selectedImage, int stateImage = -1);
    static std::string NodeText(const QTreeWidgetItem* item);  // Shift_JIS
    static void SetImages(QTreeWidgetItem* item, int image, int selectedImage, int stateImage = -1);
    // The next node in tree order (depth first), or nullptr.
    QTreeWidgetItem* NextInTreeOrder(QTreeWidgetItem* item) const;
    // Every node in tree order.
    QList<QTreeWidgetItem*> AllNodes() const;
    // Adds folders below the root (at the top level when the tree is empty). Category names are
    // unique in the tree: a folder whose name the tree already has is not added again, and what
    // stands below it goes below the node that has the name. Returns how many nodes were added.
    int AddFolders(const CategoryTree& folders);

    // Decided by the window: whether a drop from source on target is accepted, and the drop itself.
    std::function<bool(QTreeWidgetItem* target, QObject* source)> DragOverHandler;
    std::function<void(QTreeWidgetItem* target, QObject* source)> DropHandler;

    enum Roles { ImageRole = Qt::UserRole + 1, SelectedImageRole, StateImageRole };

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

}  // namespace hanabira
