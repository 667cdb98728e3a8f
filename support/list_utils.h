#pragma once
// Column set-up and refresh of the program's virtual lists.
#include <QTreeView>

#include <string>
#include <string_view>
#include <vector>

#include "store/light_strings.h"

namespace hanabira {

struct ListColumn {
    std::string Caption;  // Shift_JIS
    int Width = 100;
};
// Items separated by single spaces, each a caption, a colon and a width; a width that is missing or
// not a number is 100. Double-byte characters are stepped over whole.
std::vector<ListColumn> ParseColumnSpec(std::string_view spec);

// Column widths are given in pixels for a small 8-point font whose digits are 6 pixels wide; with a
// larger font they grow in proportion, so dates and names are not cut off.
int ScaledColumnWidth(const QWidget* view, int width);

// The view's model must be a VirtualListModel.
void SetupListColumns(QTreeView* view, std::string_view spec);
// Makes the view show as many rows as the list holds and repaints it; a list whose text is one empty
// line is cleared first.
void RefreshVirtualList(QTreeView* view, TLightStrings& list);
// When the selected row is out of sight, the top visible row becomes the selected row.
// selectedBefore is the selected row before the row count changed (-1 for none).
void KeepSelectionVisible(QTreeView* view, int selectedBefore = -1);
// The selected row of a list view, or -1.
int SelectedRow(const QTreeView* view);

}  // namespace hanabira
