#pragma once
// The model behind every virtual list of the program: it holds only a row count and asks the
// owning window for a cell's text when the view paints that cell.
#include <QAbstractTableModel>
#include <QStringList>

#include <functional>

namespace hanabira {

class VirtualListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit VirtualListModel(QObject* parent = nullptr);

    void SetColumns(const QStringList& captions);
    // Changes the row count by inserting or removing rows at the end, so the rows that stay keep
    // their selection.
    void SetRowCount(int count);
    // Tells the view that every visible cell may have new text (it repaints, asking again).
    void InvalidateRows();

    std::function<QString(int row, int column)> CellText;
    bool DragEnabled = false;
    static constexpr const char* kRowMime = "application/x-hanabira-row";
    // How many cells were formatted so far (only painted cells are).
    mutable long long FormattedCells = 0;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction | Qt::CopyAction; }

private:
    QStringList columns_;
    int rows_ = 0;
};

}  // namespace hanabira
