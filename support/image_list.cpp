#include "support/image_list.h"

#include <QFile>
#include <QHash>

// Resources of a static library must be registered by hand.
static void InitImageResources() { Q_INIT_RESOURCE(icons); }

namespace hanabira {

namespace {
// list: the image list's folder below ":/icons/", "" for the main one.
QString PathFor(const QString& list, int size, int index) {
    static const bool registered = (InitImageResources(), true);
    (void)registered;
    return QString(":/icons/%1%2/%3.png").arg(list).arg(size).arg(index);
}
QString PathFor(int size, int index) { return PathFor(QString(), size, index); }
}  // namespace

bool HasImage(int index) { return index >= 0 && QFile::exists(PathFor(16, index)); }

QIcon ListIcon(const QString& list, int index) {
    static QHash<QString, QIcon> cache;
    const QString key = list + QString::number(index);
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    QIcon icon;
    for (int size : {16, 22}) {
        const QString path = PathFor(list, size, index);
        if (index >= 0 && QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    cache.insert(key, icon);
    return icon;
}

QIcon ImageListIcon(int index) {
    return ListIcon(QString(), index);
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
