// Program entry: the application, its windows in their order, the start-up sequence, the loop.
#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include <memory>

#include "app/startup.h"
#include "browser/browser_module.h"
#include "browser/comment_window.h"
#include "browser/qt_web_view.h"
#include "register/registration_window.h"
#include "support/image_list.h"
#include "ui/main/main_window.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The application title (message boxes, the tray tip). Not the display name: Qt would append
    // that to every window caption.
    app.setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
    app.setWindowIcon(hanabira::ImageListIcon(20));
    QGuiApplication::setDesktopFileName(QStringLiteral("hanabira2"));  // ties the windows to the menu entry
    // The windows were laid out for a small 8-point interface font; list column widths are in pixels.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    // The interface is Japanese: Qt's own buttons (はい, いいえ, キャンセル) follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    int result = 0;
    {
        hanabira::TForm1 form1;
        auto* form2 = new hanabira::TForm2(&form1);  // lives as long as the main window
        form1.AttachRegistrationWindow(form2);
        // Cookies and the cache of the comment browser live beside the data file, so a login to a
        // blog service survives a restart.
        hanabira::SetBrowserStorageFolder(form1.ProgramFolder + QStringLiteral("browser"));
        // Declared after the main window, so it goes first: its pages before the profile below.
        auto form3 = std::make_unique<hanabira::TForm3>();
        hanabira::TdmBrowserModule browserModule;
        form1.AttachCommentWindow(form3.get());
        hanabira::RunStartupSequence(form1);
        hanabira::CloseOnTerminationSignals(&form1);
        form1.show();
        result = app.exec();
    }
    // Every page is gone now; the profile must go before the application object.
    hanabira::ReleaseBrowserProfile();
    return result;
}
