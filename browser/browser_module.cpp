#include "browser/browser_module.h"

#include <QFile>
#include <QHash>

static void InitBrowserImageResources() { Q_INIT_RESOURCE(icons); }

namespace hanabira {

QIcon BrowserImageIcon(int index) {
    static const bool registered = (InitBrowserImageResources(), true);
    (void)registered;
    static QHash<int, QIcon> cache;
    auto it = cache.find(index);
    if (it != cache.end()) return *it;
    QIcon icon;
    for (int size : {16, 22}) {
        const QString path = QString(":/icons/browser/%1/%2.png").arg(size).arg(index);
        if (QFile::exists(path)) icon.addFile(path, QSize(size, size));
    }
    cache.insert(index, icon);
    return icon;
}

TdmBrowserModule::TdmBrowserModule(QObject* parent) : QObject(parent) { setObjectName("dmBrowserModule"); }

}  // namespace hanabira
