// Program entry: the application, its windows in their order, the start-up sequence, the loop.
#include <QApplication>

#include "app/startup.h"
#include "support/image_list.h"
#include "ui/main/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application title (message boxes, the tray tip). Not the display name: Qt would append
    // that to every window caption.
    app.setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
    app.setWindowIcon(hanabira::ImageListIcon(20));

    hanabira::TForm1 form1;
    hanabira::RunStartupSequence(form1);
    hanabira::CloseOnTerminationSignals(&form1);
    form1.show();
    return app.exec();
}
