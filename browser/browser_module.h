#pragma once
// The browser data module: the image list of the browser toolbar, created once at program start.
#include <QIcon>
#include <QObject>

namespace hanabira {

// The toolbar's image list (ilBrowserImage) by index; a null icon for an index with no picture.
QIcon BrowserImageIcon(int index);

class TdmBrowserModule : public QObject {
    Q_OBJECT
public:
    explicit TdmBrowserModule(QObject* parent = nullptr);
    QIcon ilBrowserImage(int index) const { return BrowserImageIcon(index); }
};

}  // namespace hanabira
