#pragma once
// The program's image list: icons by the indices the windows use.
#include <QIcon>

namespace hanabira {

QIcon ImageListIcon(int index);                   // a null icon for an index with no picture
// The icon of another image list of the program: its pictures are in ":/icons/" + list (for
// example "browser/"), by size and index, like the main list's.
QIcon ListIcon(const QString& list, int index);
QIcon TreeNodeIcon(int imageIndex, int selectedIndex);  // normal picture, and another when selected
bool HasImage(int index);

}  // namespace hanabira
