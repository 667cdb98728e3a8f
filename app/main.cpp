// Program entry: the application, its windows in their order, the start-up sequence, the loop.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "app/startup.h"
#include "register/registration_window.h"
#include "support/image_list.h"
#include "ui/main/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application title (message boxes, the tray tip). Not the display name: Qt would append
    // that to every window caption.
    app.setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
    app.setWindowIcon(hanabira::ImageListIcon(20));
    // The windows were laid out for a small 8-point interface font; list column widths are in pixels.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    // The interface is Japanese: Qt's own buttons (はい, いいえ, キャンセル) follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    hanabira::TForm1 form1;
    auto* form2 = new hanabira::TForm2(&form1);  // lives as long as the main window
    form1.AttachRegistrationWindow(form2);
    hanabira::RunStartupSequence(form1);
    hanabira::CloseOnTerminationSignals(&form1);
    form1.show();
    return app.exec();
}
