#include "browser/browser_module.h"

#include "support/image_list.h"

namespace hanabira {

QIcon BrowserImageIcon(int index) { return ListIcon(QStringLiteral("browser/"), index); }

TdmBrowserModule::TdmBrowserModule(QObject* parent) : QObject(parent) { setObjectName("dmBrowserModule"); }

}  // namespace hanabira
