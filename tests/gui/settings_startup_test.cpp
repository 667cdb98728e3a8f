// The whole program's windows through start-up and close: the settings file written and read back,
// and the visit list walked from the main window into the comment window.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextEdit>
#include <QTreeView>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/startup.h"
#include "browser/comment_window.h"
#include "fake_web_view.h"
#include "gui_test_support.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::VisitList;
using hanabira::TForm1;
using hanabira::TForm3;
using testing_support::FakeWebView;
using testing_support::S;

namespace {

class ProgramTest : public ::testing::Test {
protected:
    // The windows in the program's order, then the start-up sequence.
    void Start() {
        form1 = std::make_unique<TForm1>(QString::fromStdString(dir.path().string()));
        auto* form2 = new hanabira::TForm2(form1.get());
        form1->AttachRegistrationWindow(form2);
        form3 = std::make_unique<TForm3>();
        view = FakeWebView::Last();
        form1->AttachCommentWindow(form3.get());
        hanabira::RunStartupSequence(*form1);
        form1->show();
        QApplication::processEvents();
    }
    void Close() {
        form1->close();
        form3.reset();
        form1.reset();
    }
    void TearDown() override {
        if (form1) Close();
    }
    std::string SettingsFile() { return testing_support::ReadFileBytes(dir.file("gui_tests.ini")); }
    template <class T>
    T* Find(const char* name) {
        return form3->findChild<T*>(name);
    }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm3> form3;
    FakeWebView* view = nullptr;
};

}  // namespace

TEST_F(ProgramTest, FirstCloseWritesTheSettingsFileInItsLayout) {
    Start();
    Close();
    // Numbers (positions, widths) depend on the platform; the layout around them does not.
    QString text = QString::fromStdString(SettingsFile());
    text.replace(QRegularExpression("-?[0-9]+"), "N");
    const QString expected =
        "FormN.Pos=N\tN\tN\tN\r\nFormN.Pos=N\tN\tN\tN\r\nFormN.Pos=N\tN\tN\tN\r\n"
        "BlogDataFileName=RssSites.dat\r\nMySiteSelect=\r\nCheckConnections=N\r\nAutoCheckMinutes=N"
        "\t#_MWDivKeyValues_#\t\t#_MWDivMultiLine_#\t"
        "<!--ftBlogCategories.width\t_Props_\t-->N<!--/ftBlogCategories.width\t_Props_\t-->\r\n"
        "<!--PanelN.width\t_Props_\t-->N<!--/PanelN.width\t_Props_\t-->\r\n"
        "<!--edComment.lines\t_Props_\t--><!--/edComment.lines\t_Props_\t-->\r\n"
        "<!--lvSiteList.height\t_Props_\t-->N<!--/lvSiteList.height\t_Props_\t-->\r\n"
        "<!--edRegistMySite.lines\t_Props_\t--><!--/edRegistMySite.lines\t_Props_\t-->"
        "\t#_MWDivComponent_#\t\r\n";
    EXPECT_EQ(text, expected);
    const std::string bytes = SettingsFile();
    EXPECT_LT(bytes.find("Form1.Pos="), bytes.find("Form2.Pos="));
    EXPECT_LT(bytes.find("Form2.Pos="), bytes.find("Form3.Pos="));
    EXPECT_EQ(bytes.find("Form2.Pos=0\t0\t"), std::string::npos) << "a window never opened is stored where it will open";
    EXPECT_NE(bytes.find("<!--lvSiteList.height\t_Props_\t-->137<"), std::string::npos)
        << "the height the comment window's list will open at, not a never laid out leftover";
    EXPECT_TRUE(scope.messages->errors.isEmpty());
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.file("RssSites.dat"))));
}

TEST_F(ProgramTest, ASecondStartRestoresLayoutCommentAndOwnSite) {
    Start();
    form3->show();
    form3->setGeometry(40, 50, 700, 520);
    Find<QSplitter>("Splitter1")->setSizes({240, 460});
    Find<QSplitter>("Splitter2")->setSizes({180, 300});
    Find<QTextEdit>("edComment")->setPlainText(QString::fromUtf8("{$Manager}さん\n\nまた来ます。"));
    Find<QTextEdit>("edRegistMySite")->setPlainText(QString::fromUtf8("庭,http://niwa.example/,はな\n別館,http://b.example/,hana"));
    form3->SelectMySite(S("別館"));
    form3->cbMySiteChange();
    QApplication::processEvents();
    const int panelWidth = Find<QWidget>("Panel1")->width();
    const int listHeight = Find<QWidget>("lvSiteList")->height();
    Close();

    Start();
    EXPECT_EQ(form3->CommentText(), S("{$Manager}さん\r\n\r\nまた来ます。"));
    EXPECT_EQ(form3->OwnSiteText(), S("庭,http://niwa.example/,はな\r\n別館,http://b.example/,hana"));
    EXPECT_EQ(form3->MySiteText(), S("別館"));
    EXPECT_EQ(Find<QLabel>("lbURL")->text(), "http://b.example/");
    EXPECT_EQ(Find<QLabel>("lbName")->text(), "hana");
    form3->show();
    QApplication::processEvents();
    EXPECT_EQ(form3->geometry(), QRect(40, 50, 700, 520));
    EXPECT_EQ(Find<QWidget>("Panel1")->width(), panelWidth);
    EXPECT_EQ(Find<QWidget>("lvSiteList")->height(), listHeight);
}

TEST_F(ProgramTest, StoredOwnSiteThatIsGoneLeavesNoSelection) {
    testing_support::WriteFileBytes(
        dir.file("gui_tests.ini"),
        "mysiteselect=" + S("消えた") + "\t#_MWDivKeyValues_#\t\t#_MWDivMultiLine_#\t" +
            "<!--edRegistMySite.lines\t_Props_\t-->A,http://a/,me\r\n<!--/edRegistMySite.lines\t_Props_\t-->"
            "\t#_MWDivComponent_#\t\r\n");
    Start();
    EXPECT_EQ(Find<QComboBox>("cbMySite")->count(), 1);
    EXPECT_EQ(Find<QComboBox>("cbMySite")->currentIndex(), -1);
    EXPECT_EQ(Find<QLabel>("lbURL")->text(), "----");
}

TEST_F(ProgramTest, UnreadableSettingsFileIsReportedAndNeverWrittenOver) {
    ASSERT_EQ(mkdir(dir.file("gui_tests.ini").c_str(), 0755), 0);  // not a file we can read
    Start();
    ASSERT_EQ(scope.messages->errors.size(), 1);
    EXPECT_TRUE(scope.messages->errors.first().contains(QString::fromUtf8("設定ファイルを読み込めませんでした")));
    EXPECT_TRUE(scope.messages->errors.first().contains("gui_tests.ini"));
    Close();
    struct stat st {};
    ASSERT_EQ(stat(dir.file("gui_tests.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.file("RssSites.dat")))) << "the sites are still saved";
}

TEST_F(ProgramTest, DoubleClickInTheVisitListOpensTheSiteInTheCommentWindow) {
    hanabira::TMWBlogListRec rec;
    rec.SiteTitle = S("花びら");
    rec.SiteURL = "http://a.example/blog";
    rec.ManagerName = S("はな");
    testing_support::WriteFileBytes(dir.file("RssSites.dat"),
                                    "<!--\tTree\t-->6 7 -1 5 0 -1 \r\n" + S("すべてのサイト") + "\r\n\t" + S("未分類") +
                                        "\r\n<!--/\tTree\t--><!--\tBlogList\t-->" + hanabira::WriteSiteRecord(rec) +
                                        "\r\n<!--/\tBlogList\t-->\r\n");
    Start();
    auto* comments = Find<QTreeView>("lvSiteList");
    EXPECT_EQ(comments->model()->rowCount(), 1) << "the comment window lists the visit list";
    VisitList(*form1)->selectionModel()->setCurrentIndex(VisitList(*form1)->model()->index(0, 0),
                                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    form1->lvVisitSiteDblClick();
    EXPECT_TRUE(form3->isVisible());
    EXPECT_EQ(view->calls.last(), "Navigate http://a.example/blog");
    EXPECT_FALSE(hanabira::ReadSiteRecord(form1->SiteTable().Get(0)).LastVisit.empty());
    EXPECT_FALSE(comments->model()->index(0, 1).data().toString().isEmpty());

    form3->showMinimized();
    form1->ToolButton1Click();
    EXPECT_FALSE(form3->isMinimized()) << "shown again, restored";
}

TEST_F(ProgramTest, AProgramFolderThatCannotBeWrittenIsReportedOnceAtStart) {
    // A folder that does not exist stands for one the user may not write (root writes anywhere else).
    form1 = std::make_unique<TForm1>(QString::fromStdString(dir.file("gone/")));
    hanabira::RunStartupSequence(*form1);
    ASSERT_EQ(scope.messages->errors.size(), 1);
    EXPECT_TRUE(scope.messages->errors.first().contains(QString::fromUtf8("プログラムのフォルダに書き込めません")));
    form1.reset();
}

TEST_F(ProgramTest, ASettingsFileThatCannotBeWrittenAtCloseIsReported) {
    Start();
    // Something the save cannot rename over: a folder with contents at the file's name.
    std::filesystem::create_directories(dir.path() / "gui_tests.ini" / "keep");
    Close();
    ASSERT_EQ(scope.messages->errors.size(), 1);
    EXPECT_TRUE(scope.messages->errors.first().contains(QString::fromUtf8("設定ファイルを保存できませんでした")));
    EXPECT_TRUE(scope.messages->errors.first().contains("gui_tests.ini"));
}
