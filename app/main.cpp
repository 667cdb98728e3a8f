// Program entry: the application, its windows in their order, the start-up sequence, the loop.
#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QNetworkProxyFactory>
#include <QTranslator>

#include <unistd.h>

#include "app/program.h"
#include "app/single_instance.h"
#include "browser/qt_web_view.h"
#include "support/image_list.h"
#include "support/window_utility.h"
#include "ui/main/main_window.h"

int main(int argc, char* argv[]) {
    hanabira::Application app(argc, argv);
    // The application title (message boxes, the tray tip). Not the display name: Qt would append
    // that to every window caption.
    app.setApplicationName(QString::fromUtf8("VUVarovaduro Hanabira 2号"));
    app.setWindowIcon(hanabira::ImageListIcon(20));
    QGuiApplication::setDesktopFileName(QStringLiteral("hanabira2"));  // ties the windows to the menu entry
    // The windows were laid out for a small 8-point interface font; list column widths are in pixels.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);

    // Behind a proxy: the checks (libcurl) read http_proxy and https_proxy; the comment browser is
    // told to use the same system settings.
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    // The interface is Japanese: Qt's own buttons (はい, いいえ, キャンセル) follow.
    QTranslator qtTranslator;
    if (qtTranslator.load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslator);

    // Chromium (the comment browser) aborts the whole program when started as root with its sandbox
    // on. The program never turns the sandbox off itself: it says so and ends instead.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
        !qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QLatin1String("--no-sandbox"))) {
        QMessageBox::critical(nullptr, QStringLiteral("Hanabira 2号"),
                              QString::fromUtf8("root では起動できません（内蔵ブラウザの Chromium が root での実行を拒みます）。\n"
                                                "普通のユーザーで起動してください。"));
        return 1;
    }

    // One program per site list: a second start brings the running window forward and ends, so
    // that two programs never write their own lists over each other at close.
    hanabira::SingleInstance instance(QCoreApplication::applicationDirPath());
    if (!instance.Acquire()) return 0;

    int result = 0;
    {
        hanabira::Program program;
        auto comeForward = [&instance, &program] {
            if (instance.TakePendingActivation()) program.Main().WindowUtility().RestoreFromTray();
        };
        QObject::connect(&instance, &hanabira::SingleInstance::ActivationRequested, &program.Main(), comeForward);
        program.Start();
        comeForward();  // asked while the windows were being made
        result = app.exec();
    }
    // Every page is gone now; the profile must go before the application object.
    hanabira::ReleaseBrowserProfile();
    return result;
}
