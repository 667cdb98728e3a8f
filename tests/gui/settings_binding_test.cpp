#include "support/settings_binding.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>
#include <string>
#include <vector>

#include "store/ini_file.h"
#include "support/qt_text.h"
#include "test_support.h"

namespace {

using hanabira::RegisterWidgetProperty;
using hanabira::TMWIniFile;
using testing_support::S;
using testing_support::TempDir;

// The shape of the comment window's left column: a panel beside a stretching view in one splitter,
// a list above the comment editor in another.
struct Form {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QSplitter* splitter1 = new QSplitter(Qt::Horizontal);
    QWidget* panel1 = new QWidget;
    QSplitter* splitter2 = new QSplitter(Qt::Vertical);
    QTreeWidget* lvSiteList = new QTreeWidget;
    QTextEdit* edComment = new QTextEdit;
    QPlainTextEdit* edRegistMySite = new QPlainTextEdit;
    QWidget* view = new QWidget;

    Form() {
        window->setObjectName("Form3");
        panel1->setObjectName("Panel1");
        lvSiteList->setObjectName("lvSiteList");
        edComment->setObjectName("edComment");
        edRegistMySite->setObjectName("edRegistMySite");
        view->setObjectName("frBrowserBase1");
        auto* outer = new QHBoxLayout(window.get());
        outer->addWidget(splitter1);
        auto* column = new QVBoxLayout(panel1);
        column->addWidget(splitter2);
        column->addWidget(edRegistMySite);
        splitter2->addWidget(lvSiteList);
        splitter2->addWidget(edComment);
        splitter2->setStretchFactor(1, 1);
        splitter1->addWidget(panel1);
        splitter1->addWidget(view);
        splitter1->setStretchFactor(1, 1);
        splitter1->setChildrenCollapsible(true);
        window->resize(800, 600);
    }
    void Register(TMWIniFile& ini) {
        RegisterWidgetProperty(ini, panel1, "width");
        RegisterWidgetProperty(ini, lvSiteList, "Height");  // property names ignore case
        RegisterWidgetProperty(ini, edComment, "lines");
        RegisterWidgetProperty(ini, edRegistMySite, "LINES");
        RegisterWidgetProperty(ini, view, "Color");  // unknown: empty, and a set does nothing
    }
    void Show() {
        window->show();
        QApplication::processEvents();
    }
};

TEST(SettingsBinding, PropertiesRoundTripThroughTheFileAlsoWhileTheWindowStaysHidden) {
    TempDir dir;
    const std::string path = dir.file("s.ini");
    const QString comment = QString::fromUtf8("{$Manager}さん\n\n  こんにちは。\nまた来ます");
    const QString sites = QString::fromUtf8("日記,http://my.jp/,わたし\n\nBlog,http://b/,me");
    {
        Form form;
        form.Show();
        form.splitter1->setSizes({210, 560});
        form.splitter2->setSizes({150, 300});
        form.edComment->setPlainText(comment);
        form.edRegistMySite->setPlainText(sites);
        TMWIniFile ini(path);
        form.Register(ini);
        ASSERT_TRUE(ini.WriteSettings());
    }
    const std::string bytes = testing_support::ReadFileBytes(path);
    for (const std::string& section : std::vector<std::string>
         {"Panel1.width\t_Props_\t-->210<!--", "lvSiteList.Height\t_Props_\t-->150<!--",
          "edComment.lines\t_Props_\t-->" + S("{$Manager}さん\r\n\r\n  こんにちは。\r\nまた来ます\r\n<!--"),
          "frBrowserBase1.Color\t_Props_\t--><!--"})
        EXPECT_NE(bytes.find("<!--" + section), std::string::npos) << section;

    // Read into a window that is never shown, then written again: nothing is lost on the way.
    {
        Form hidden;
        TMWIniFile ini(path);
        hidden.Register(ini);
        ASSERT_TRUE(ini.ReadSettings());
        ASSERT_TRUE(ini.WriteSettings());
        EXPECT_EQ(testing_support::ReadFileBytes(path), bytes);
    }

    Form form;
    TMWIniFile ini(path);
    form.Register(ini);
    ASSERT_TRUE(ini.ReadSettings());
    form.Show();
    EXPECT_EQ(form.panel1->width(), 210);
    EXPECT_EQ(form.lvSiteList->height(), 150);
    EXPECT_EQ(form.edComment->toPlainText(), comment);
    EXPECT_EQ(form.edRegistMySite->toPlainText(), sites);
    // The panel keeps its width when the window grows.
    form.window->resize(1000, 700);
    QApplication::processEvents();
    EXPECT_EQ(form.panel1->width(), 210);
}

TEST(SettingsBinding, AWidthThatIsNotANumberGivesTheSmallestSizeTheControlAllows) {
    TempDir dir;
    const std::string path = dir.file("s.ini");
    testing_support::WriteFileBytes(path, "\t#_MWDivKeyValues_#\t\t#_MWDivMultiLine_#\t"
                                          "<!--Panel1.width\t_Props_\t-->wide<!--/Panel1.width\t_Props_\t-->"
                                          "<!--lvSiteList.Height\t_Props_\t-->-40<!--/lvSiteList.Height\t_Props_\t-->"
                                          "<!--free.width\t_Props_\t-->x<!--/free.width\t_Props_\t-->"
                                          "\t#_MWDivComponent_#\t");
    Form form;
    QWidget free;
    free.setObjectName("free");
    free.resize(120, 80);
    TMWIniFile ini(path);
    form.Register(ini);
    RegisterWidgetProperty(ini, &free, "width");
    ASSERT_TRUE(ini.ReadSettings());
    form.Show();
    // In a splitter: the child's minimum, never collapsed out of sight.
    EXPECT_GT(form.panel1->width(), 0);
    EXPECT_LE(form.panel1->width(), form.panel1->minimumSizeHint().width());
    EXPECT_GT(form.lvSiteList->height(), 0);
    EXPECT_LE(form.lvSiteList->height(), form.lvSiteList->minimumSizeHint().height());
    // A plain widget with no minimum goes to 0, as the stored text says.
    EXPECT_EQ(free.width(), 0);
    EXPECT_EQ(free.height(), 80);
}

TEST(SettingsBinding, FormPositionStoredAndRestored) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    struct Case {
        const char* name;
        std::string stored;
        bool keepSize;
        QRect want;
    } cases[] = {
        {"as stored", "40\t30\t300\t200", false, {40, 30, 300, 200}},
        {"keep size takes only left and top", "40\t30\t999\t888", true, {40, 30, 320, 240}},
        {"missing and bad items keep the current ones", "15\tx", false, {15, 25, 320, 240}},
        {"a zero size keeps the current one", "40\t30\t0\t0", false, {40, 30, 320, 240}},
        {"off every screen: pulled back in, size kept",
         "5000\t4000\t300\t200", false,
         {screen.right() - 299, screen.bottom() - 199, 300, 200}},
        {"larger than the screen and off it: shrunk to fit",
         "-9000\t-9000\t" + std::to_string(screen.width() + 500) + "\t100", false,
         {screen.left(), screen.top(), screen.width(), 100}},
    };
    for (const Case& c : cases) {
        QWidget window;
        window.setObjectName("Form2");
        window.setGeometry(5, 25, 320, 240);
        TMWIniFile ini("unused.ini");
        ini.WriteValue("Form2.Pos", c.stored);
        hanabira::RestoreFormPos(ini, &window, c.keepSize);
        EXPECT_EQ(window.geometry(), c.want) << c.name;
        hanabira::StoreFormPos(ini, &window);
        const QRect g = window.geometry();
        EXPECT_EQ(ini.ReadValue("form2.pos"), hanabira::FormatFormPos({g.left(), g.top(), g.width(), g.height()}))
            << c.name;
    }

    // Maximised, a window stores the place it returns to.
    QWidget window;
    window.setObjectName("Form1");
    window.setGeometry(60, 70, 300, 200);
    window.show();
    window.showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(window.isMaximized());
    TMWIniFile ini("unused.ini");
    hanabira::StoreFormPos(ini, &window);
    EXPECT_EQ(ini.ReadValue("Form1.Pos"), "60\t70\t300\t200");
}

TEST(SettingsBinding, FitOnScreensKeepsVisibleWindowsAndMovesLostOnes) {
    const QList<QRect> two = {QRect(0, 0, 1920, 1040), QRect(1920, 0, 1280, 984)};
    struct Case {
        const char* name;
        QRect rect, want;
    } cases[] = {
        {"across both screens", {1700, 100, 640, 480}, {1700, 100, 640, 480}},
        {"mostly off but a corner shows", {-580, -420, 640, 480}, {-580, -420, 640, 480}},
        {"only a sliver shows", {-620, 100, 640, 480}, {0, 100, 640, 480}},
        {"where a third monitor was", {3300, 100, 640, 480}, {2560, 100, 640, 480}},
        {"too tall for the nearest", {3400, 0, 400, 1200}, {2800, 0, 400, 984}},
    };
    for (const Case& c : cases) EXPECT_EQ(hanabira::FitOnScreens(c.rect, two), c.want) << c.name;
}

}  // namespace
