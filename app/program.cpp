#include "app/program.h"

#include <exception>

#include "app/startup.h"
#include "browser/browser_module.h"
#include "browser/comment_window.h"
#include "browser/qt_web_view.h"
#include "register/registration_window.h"
#include "support/messages.h"
#include "support/qt_text.h"
#include "ui/main/main_window.h"

namespace hanabira {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    // The event boundary: every fault that reaches it is reported, and the program goes on.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ReportUnhandledFault(e.what());
    } catch (...) {
        ReportUnhandledFault(std::string());
    }
    return false;
}

void ReportUnhandledFault(const std::string& what) {
    QString text = Tr("処理中にエラーが発生しました。");
    if (!what.empty()) text += "\n" + SjisToQString(what);
    text += Tr("\n\nサイトリストはそのまま残っています（終了するときに保存されます）。");
    Messages().Error(QApplication::activeWindow(), text);
}

Program::Program(const QString& programFolder) {
    form1_ = std::make_unique<TForm1>(programFolder);
    form2_ = new TForm2(form1_.get());
    form1_->AttachRegistrationWindow(form2_);
    // Cookies and the cache of the comment browser live beside the data file, so a login to a blog
    // service survives a restart.
    SetBrowserStorageFolder(form1_->ProgramFolder() + QStringLiteral("browser"));
    form3_ = std::make_unique<TForm3>();
    module_ = std::make_unique<TdmBrowserModule>();
    form1_->AttachCommentWindow(form3_.get());
}

Program::~Program() {
    // The comment window's pages go before the main window, and all of them before the profile.
    form3_.reset();
    module_.reset();
    form1_.reset();
}

void Program::Start() {
    RunStartupSequence(*form1_);
    CloseOnTerminationSignals(form1_.get());
    form1_->show();
}

}  // namespace hanabira
