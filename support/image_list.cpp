#include "support/image_list.h"

#include <QFile>
#include <QHash>

// Resources of a static library must be registered by hand.
static void InitImageResources() { Q_INIT_RESOURCE(icons); }

namespace hanabira {

namespace {
QString PathFor(int size, int index) {
    static const bool registered = (InitImageResources(), true);
    (void)registered;
    return QString(":/icons/%1/%2.png").arg(size).arg(index);
}
}  // namespace

bool HasImage(int index) { return index >= 0 && QFile::exists(PathFor(16, index)); }

QIcon ImageListIcon(int index) {
    static QHash<int, QIcon> cache;
    auto it = cache.find(index);
    if (it != cache.end()) return *it;
    QIcon icon;
    if (HasImage(index)) {
        icon.addFile(PathFor(16, index), QSize(16, 16));
        icon.addFile(PathFor(22, index), QSize(22, 22));
    }
    cache.insert(index, icon);
    return icon;
}

QIcon TreeNodeIcon(int imageIndex, int selectedIndex) {
    QIcon icon;
    for (int size : {16, 22}) {
        if (HasImage(imageIndex)) icon.addFile(PathFor(size, imageIndex), QSize(size, size), QIcon::Normal);
        if (HasImage(selectedIndex)) icon.addFile(PathFor(size, selectedIndex), QSize(size, size), QIcon::Selected);
    }
    return icon;
}

}  // namespace hanabira
