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
    TMWIniFile& ini = *form.IniFile;
    form.RegisterSettings(ini);
    if (form.Form3) form.Form3->RegisterSettings(ini);
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
    if (form.Form2) RestoreFormPos(ini, form.Form2, true);  // the registration window keeps its size
    if (form.Form3) RestoreFormPos(ini, form.Form3, false);

    const std::string path = QFile::encodeName(form.DataFilePath()).toStdString();
    CategoryTree tree = form.ftBlogCategories->ToCategoryTree();
    std::string bytesRead;
    const SiteDataLoad load = LoadSiteData(path, *form.SiteTableList, tree, &bytesRead);
    if (load.status == SiteDataStatus::Unreadable) {
        // Never write over a file we could not read: the user's sites may still be in it.
        form.DataFileBlocked = true;
        ShowMessage(&form, Tr("サイトデータファイルを読み込めませんでした。\n%1\n%2\n\n"
                              "このファイルは上書きしません。")
                               .arg(form.DataFilePath(), SjisToQString(load.error)));
    }
    if (load.status == SiteDataStatus::Loaded) form.ftBlogCategories->LoadCategoryTree(tree);
    if (load.treeError) {
        ShowMessage(&form, Tr("I/O Error:MWLoadTreeFromStrings"));
        // The categories after the fault are only in the file: saving would drop them for good.
        // The sites loaded, so the user can still work; the file stays as it is.
        form.DataFileBlocked = true;
        ShowMessage(&form, Tr("サイトデータファイルのカテゴリツリーが壊れています。\n%1\n\n"
                              "このファイルは上書きしません。")
                               .arg(form.DataFilePath()));
    }

    // Another computer's copy arriving in a synced folder is merged in, never written over.
    if (!form.DataFileBlocked) form.WatchSiteDataFile(std::move(bytesRead));

    // A program installed where the user may not write (system-wide) could never save: say so now,
    // not after a day's work at close.
    const QByteArray folder = QFile::encodeName(form.ProgramFolder);
    if (access(folder.constData(), W_OK) != 0) {
        ShowMessage(&form, Tr("プログラムのフォルダに書き込めません。\n%1\n\n"
                              "サイトデータと設定は保存されません。書き込めるフォルダ"
                              "（~/.local/share/hanabira2 など）に置いて起動してください。")
                               .arg(form.ProgramFolder));
    }

    SetupListColumns(form.lvSiteList, SjisLiteral(TForm1::kListColumns));
    SetupListColumns(form.lvVisitSite, SjisLiteral(TForm1::kListColumns));

    form.ftBlogCategories->expandAll();
    if (QTreeWidgetItem* first = form.ftBlogCategories->topLevelItem(0)) {
        form.ftBlogCategories->setCurrentItem(first);  // raises the selection change
    }
    form.ShowSelectedCategory();  // false with no node: nothing to show
    if (form.Form2) {
        form.Form2->sbDisoplaySeriesUrlsClick();  // the initial layout, without the series editor
        form.RefillRegistrationCategories();
    }
    if (form.Form3) form.Form3->ReadSettings(ini);  // the own site stored at the last close
    form.Utility->SetupEditors();
    ResetPageControls();
    form.Utility->AttachToMainForm(&form);
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
