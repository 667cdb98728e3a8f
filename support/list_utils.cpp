#include "support/list_utils.h"

#include <QHeaderView>
#include <QPalette>
#include <QScrollBar>

#include "support/qt_text.h"
#include "support/sjis_text.h"
#include "support/virtual_list_model.h"

namespace hanabira {

namespace {

int ReadWidth(const std::string& text) {
    if (text.empty()) return 100;
    size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i == text.size()) return 100;
    long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 100;
        value = value * 10 + (text[i] - '0');
        if (value > 100000) value = 100000;
    }
    return text[0] == '-' ? 0 : static_cast<int>(value);
}

VirtualListModel* ModelOf(const QTreeView* view) { return qobject_cast<VirtualListModel*>(view->model()); }

}  // namespace

int ScaledColumnWidth(const QWidget* view, int width) {
    const int digit = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const double scale = digit > 6 ? digit / 6.0 : 1.0;
    return static_cast<int>(width * scale + 0.5);
}

std::vector<ListColumn> ParseColumnSpec(std::string_view spec) {
    std::vector<ListColumn> columns;
    std::string rest(spec);
    while (!rest.empty()) {
        std::string item = CutToken(rest, " ");
        ListColumn c;
        const bool hasColon = CharPos(":", item) > 0;
        c.Caption = CutToken(item, ":");
        c.Width = hasColon ? ReadWidth(item) : 100;
        columns.push_back(std::move(c));
    }
    return columns;
}

int SelectedRow(const QTreeView* view) {
    if (!view->selectionModel()) return -1;
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void SetupListColumns(QTreeView* view, std::string_view spec) {
    VirtualListModel* model = ModelOf(view);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);  // lets the view lay out any number of rows without asking each
    view->setAllColumnsShowFocus(true);
    view->header()->setSectionsClickable(false);
    view->header()->setSectionsMovable(false);
    view->header()->setStretchLastSection(false);
    // The selection stays visible when the list loses the focus.
    QPalette pal = view->palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight, pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    view->setPalette(pal);
    if (!model) return;
    const std::vector<ListColumn> columns = ParseColumnSpec(spec);
    QStringList captions;
    for (const ListColumn& c : columns) captions << SjisToQString(c.Caption);
    model->SetColumns(captions);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) view->setColumnWidth(i, ScaledColumnWidth(view, columns[i].Width));
}

void RefreshVirtualList(QTreeView* view, TLightStrings& list) {
    list.ClearIfOnlyEmptyLine();
    VirtualListModel* model = ModelOf(view);
    if (!model) return;
    const int before = SelectedRow(view);
    view->setUpdatesEnabled(false);
    if (model->rowCount() != list.Count()) model->SetRowCount(list.Count());
    KeepSelectionVisible(view, before);
    view->setUpdatesEnabled(true);
    // The view keeps no cell text, so a repaint asks the table again for the visible rows only.
    view->viewport()->update();
}

void KeepSelectionVisible(QTreeView* view, int selectedBefore) {
    QAbstractItemModel* model = view->model();
    if (!model || !view->selectionModel()) return;
    const int rows = model->rowCount();
    QModelIndex topIndex = view->indexAt(QPoint(1, 1));
    int top = topIndex.isValid() ? topIndex.row() : -1;
    // The row that was selected before the count changed: Qt moves a selection off removed rows on
    // its own, but a selection that fell off the end must land on the top visible row.
    int selected = selectedBefore >= 0 ? selectedBefore : SelectedRow(view);
    if (top < 0 || selected < 0) return;  // empty view or nothing selected: both count as 0
    const int rowHeight = view->sizeHintForRow(top) > 0 ? view->sizeHintForRow(top) : 1;
    const int visible = std::max(1, view->viewport()->height() / rowHeight);
    if (selected < top || selected > top + visible - 1 || selected >= rows) {
        const QModelIndex target = model->index(top, 0);
        view->selectionModel()->setCurrentIndex(
            target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
}

}  // namespace hanabira
