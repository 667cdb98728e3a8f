#pragma once
// The program's windows, created in their order and freed in the reverse one: the main window, the
// registration window, the comment window and the browser data module.
#include <QApplication>
#include <QString>

#include <memory>
#include <string>

namespace hanabira {

class TForm1;
class TForm2;
class TForm3;
class TdmBrowserModule;

// The application object. Its event delivery is the one place where a fault that no command
// handles ends up: the user is told, and the program goes on with its site list in memory (the
// list reaches the file only at close, so ending here would lose the day's changes).
class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
// What the event boundary says about a fault (what: the exception's text, Shift_JIS; empty when
// it had none).
void ReportUnhandledFault(const std::string& what);

class Program {
public:
    // programFolder: where the data and settings files live (the executable's folder unless given).
    explicit Program(const QString& programFolder = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The start-up sequence; then the main window is shown and the termination signals close it.
    void Start();

    TForm1& Main() const { return *form1_; }
    TForm2& Registration() const { return *form2_; }
    TForm3& Comments() const { return *form3_; }

private:
    std::unique_ptr<TForm1> form1_;
    TForm2* form2_ = nullptr;  // owned by the main window
    std::unique_ptr<TForm3> form3_;
    std::unique_ptr<TdmBrowserModule> module_;
};

}  // namespace hanabira
