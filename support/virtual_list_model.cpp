#include "support/virtual_list_model.h"

#include <QMimeData>

namespace hanabira {

VirtualListModel::VirtualListModel(QObject* parent) : QAbstractTableModel(parent) {}

void VirtualListModel::SetColumns(const QStringList& captions) {
    beginResetModel();
    columns_ = captions;
    endResetModel();
}

void VirtualListModel::SetRowCount(int count) {
    if (count < 0) count = 0;
    if (count == rows_) return;
    if (count > rows_) {
        beginInsertRows({}, rows_, count - 1);
        rows_ = count;
        endInsertRows();
    } else {
        beginRemoveRows({}, count, rows_ - 1);
        rows_ = count;
        endRemoveRows();
    }
}

void VirtualListModel::InvalidateRows() {
    if (rows_ > 0 && !columns_.isEmpty()) emit dataChanged(index(0, 0), index(rows_ - 1, columns_.size() - 1));
}

int VirtualListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int VirtualListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant VirtualListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || !CellText) return {};
    ++FormattedCells;
    return CellText(index.row(), index.column());
}

QVariant VirtualListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columns_.size())
        return columns_[section];
    return {};
}

Qt::ItemFlags VirtualListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (DragEnabled) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList VirtualListModel::mimeTypes() const { return {QString::fromLatin1(kRowMime)}; }

QMimeData* VirtualListModel::mimeData(const QModelIndexList& indexes) const {
    auto* mime = new QMimeData;
    const int row = indexes.isEmpty() ? -1 : indexes.first().row();
    mime->setData(QString::fromLatin1(kRowMime), QByteArray::number(row));
    return mime;
}

}  // namespace hanabira
