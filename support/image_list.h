#pragma once
// The program's image list: icons by the indices the windows use.
#include <QIcon>

namespace hanabira {

QIcon ImageListIcon(int index);                   // a null icon for an index with no picture
QIcon TreeNodeIcon(int imageIndex, int selectedIndex);  // normal picture, and another when selected
bool HasImage(int index);

}  // namespace hanabira
