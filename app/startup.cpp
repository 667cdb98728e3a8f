#include "app/startup.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <QTreeWidgetItem>

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <ctime>

#include "browser/comment_window.h"
#include "register/registration_window.h"
#include "store/ini_file.h"
#include "store/site_data.h"
#include "support/codepage.h"
#include "support/list_utils.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "support/settings_binding.h"
#include "support/sjis_text.h"
#include "support/window_utility.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"

namespace hanabira {

namespace {

int g_signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

void RunStartupSequence(TForm1& form) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // The settings store applies the stored values of what is registered, so registration comes first.
    // Each window registers its own properties, in the order of their sections in the file.
    TMWIniFile& ini = form.Settings();
    form.RegisterSettings(ini);
    TForm2* registration = form.RegistrationWindow();
    TForm3* comments = form.CommentWindow();
    if (comments) comments->RegisterSettings(ini);
    ini.ReadSettings();
    if (ini.Blocked()) {
        // The comment template and the own-site list are typed by hand: never replace them. Said
        // once the main window is up, over it, not alone on the desktop before it.
        const QString text = Tr("設定ファイルを読み込めませんでした。\n%1\n%2\n\n"
                                "このファイルは上書きしません。")
                                 .arg(form.SettingsFilePath(), SjisToQString(ini.ErrorText()));
        QTimer::singleShot(0, &form, [&form, text] { ShowMessage(&form, text); });
    }
    form.ReadSettings(ini);

    RestoreFormPos(ini, &form, false);
    if (registration) RestoreFormPos(ini, registration, true);  // the registration window keeps its size
    if (comments) RestoreFormPos(ini, comments, false);

    form.LoadSiteDataFile();

    // A program installed where the user may not write (system-wide) could never save: say so now,
    // not after a day's work at close.
    const QByteArray folder = QFile::encodeName(form.ProgramFolder());
    if (access(folder.constData(), W_OK) != 0) {
        ShowMessage(&form, Tr("プログラムのフォルダに書き込めません。\n%1\n\n"
                              "サイトデータと設定は保存されません。書き込めるフォルダ"
                              "（~/.local/share/hanabira2 など）に置いて起動してください。")
                               .arg(form.ProgramFolder()));
    }

    form.ShowFirstCategory();
    if (registration) {
        registration->sbDisoplaySeriesUrlsClick();  // the initial layout, without the series editor
        form.RefillRegistrationCategories();
    }
    if (comments) comments->ReadSettings(ini);  // the own site stored at the last close
    form.WindowUtility().SetupEditors();
    ResetPageControls();
    form.WindowUtility().AttachToMainForm(&form);
    form.InstallTrayMenu();
}

void CloseOnTerminationSignals(QWidget* window) {
    if (g_signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char buf[16];
        [[maybe_unused]] ssize_t n = read(g_signalPipe[0], buf, sizeof buf);
        window->close();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

}  // namespace hanabira
