// The main window driven through its handlers, with message boxes answered by the test.
#include <QApplication>
#include <QHeaderView>
#include <QTabWidget>
#include <QScrollBar>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidgetItem>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>

#include "app/startup.h"
#include "gui_test_support.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/codepage.h"
#include "support/list_utils.h"
#include "support/qt_text.h"
#include "support/virtual_list_model.h"
#include "support/window_utility.h"
#include "test_support.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::SiteList;
using testing_support::VisitList;
using testing_support::Tree;
using hanabira::TForm1;
using hanabira::TMWBlogListRec;
using testing_support::S;

namespace {

const char* const kTab = "\t";

std::string Site(const char* title, const char* url, const char* category, const char* lastVisit = "",
                 const char* headCheck = "") {
    TMWBlogListRec r;
    r.SiteTitle = S(title);
    r.SiteURL = url;
    r.LastVisit = lastVisit;
    r.Registered = "2026/12/01 10:00:00";
    r.Category = S(category);
    r.RSSURL = std::string(url) + "/index.rdf";
    r.HeadCheck = headCheck;
    r.ManagerName = S("管理人");
    return hanabira::WriteSiteRecord(r);
}

// A data file as users have them: three categories, sites in each, CR LF, Shift_JIS.
std::string PreparedDataFile() {
    std::string t = "<!--\tTree\t-->6 7 -1 5 0 -1 5 0 -1 5 0 -1 5 0 -1 \r\n";
    t += S("すべてのサイト") + "\r\n";
    t += std::string(kTab) + S("未分類") + "\r\n";
    t += std::string(kTab) + S("日記") + "\r\n";
    t += std::string(kTab) + S("技術") + "\r\n";
    t += std::string(kTab) + S("写真") + "\r\n";
    t += "<!--/\tTree\t--><!--\tBlogList\t-->";
    t += Site("花びら日記", "http://a.example/blog", "日記", "2026/12/05 09:00:00") + "\r\n";
    t += Site("技術メモ", "http://b.example", "技術") + "\r\n";
    t += Site("写真館", "http://c.example", "写真", "", "Skip") + "\r\n";
    t += Site("未分類のサイト", "http://d.example", "") + "\r\n";
    t += Site("文字通り未分類", "http://e.example", "未分類") + "\r\n";
    t += Site("迷子", "http://f.example", "存在しない") + "\r\n";
    t += "<!--/\tBlogList\t-->\r\n";
    return t;
}

class MainWindowTest : public ::testing::Test {
protected:
    void Start(const std::string* dataFile = nullptr) {
        if (dataFile) testing_support::WriteFileBytes(dir.file("RssSites.dat"), *dataFile);
        form = std::make_unique<TForm1>(QString::fromStdString(dir.path().string()));
        hanabira::RunStartupSequence(*form);
        form->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        if (form) form->close();
        form.reset();
    }
    int Rows(QTreeView* v) const { return v->model()->rowCount(); }
    QString Cell(QTreeView* v, int row, int col) const { return v->model()->index(row, col).data().toString(); }
    QTreeWidgetItem* Node(const char* utf8) const {
        for (QTreeWidgetItem* n : Tree(*form)->AllNodes())
            if (n->text(0) == QString::fromUtf8(utf8)) return n;
        return nullptr;
    }
    void SelectCategory(const char* utf8) {
        Tree(*form)->setCurrentItem(Node(utf8));
        QApplication::processEvents();
    }
    void SelectSiteRow(int row) {
        SiteList(*form)->selectionModel()->setCurrentIndex(
            SiteList(*form)->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    std::string SavedFile() { return testing_support::ReadFileBytes(dir.file("RssSites.dat")); }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    testing_support::RecordedMessages& msg = *scope.messages;
    std::unique_ptr<TForm1> form;
};

TEST_F(MainWindowTest, FirstRunShowsBuiltInTreeAndSavesItAtClose) {
    Start();
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("VUVarovaduro - Hanabira 2号"));
    ASSERT_EQ(Tree(*form)->topLevelItemCount(), 1);
    QTreeWidgetItem* root = Tree(*form)->topLevelItem(0);
    EXPECT_EQ(root->text(0), QString::fromUtf8("すべてのサイト"));
    ASSERT_EQ(root->childCount(), 1);
    EXPECT_EQ(root->child(0)->text(0), QString::fromUtf8("未分類"));
    EXPECT_EQ(Tree(*form)->currentItem(), root);
    EXPECT_EQ(Rows(SiteList(*form)), 0);
    EXPECT_EQ(Rows(VisitList(*form)), 0);
    form->close();
    const std::string expected = "<!--\tTree\t-->6 7 -1 5 0 -1 \r\n" + S("すべてのサイト") + "\r\n\t" + S("未分類") +
                                 "\r\n<!--/\tTree\t--><!--\tBlogList\t--><!--/\tBlogList\t-->\r\n";
    EXPECT_EQ(SavedFile(), expected);
    EXPECT_TRUE(msg.errors.isEmpty());
}

TEST_F(MainWindowTest, LoadsShowsAndSavesTheDataFileByteForByte) {
    const std::string data = PreparedDataFile();
    Start(&data);
    EXPECT_EQ(Tree(*form)->AllNodes().size(), 5);
    ASSERT_EQ(Rows(SiteList(*form)), 6);
    EXPECT_EQ(Cell(SiteList(*form), 0, 0), "1");
    EXPECT_EQ(Cell(SiteList(*form), 0, 1), QString::fromUtf8("花びら日記"));
    EXPECT_EQ(Cell(SiteList(*form), 0, 2), "http://a.example/blog");
    EXPECT_EQ(Cell(SiteList(*form), 0, 3), "2026/12/05 09:00:00");
    EXPECT_EQ(Cell(SiteList(*form), 0, 6), QString::fromUtf8("日記"));
    EXPECT_EQ(Cell(SiteList(*form), 0, 7), "2026/12/01 10:00:00");
    EXPECT_EQ(Cell(SiteList(*form), 0, 8), "http://a.example/blog/index.rdf");
    EXPECT_EQ(Cell(SiteList(*form), 2, 9), "Skip");
    EXPECT_EQ(Cell(SiteList(*form), 5, 0), "6");
    // Never visited sites are in the visit list of the root.
    EXPECT_EQ(Rows(VisitList(*form)), 5);
    form->close();
    EXPECT_EQ(SavedFile(), data);
}

TEST_F(MainWindowTest, CategorySelectionShowsItsSites) {
    const std::string data = PreparedDataFile();
    Start(&data);
    SelectCategory("技術");
    ASSERT_EQ(Rows(SiteList(*form)), 1);
    EXPECT_EQ(Cell(SiteList(*form), 0, 1), QString::fromUtf8("技術メモ"));
    EXPECT_EQ(Cell(SiteList(*form), 0, 0), "1");
    SelectCategory("未分類");
    ASSERT_EQ(Rows(SiteList(*form)), 2);  // empty category and the literal name; not the unknown one
    EXPECT_EQ(Cell(SiteList(*form), 0, 1), QString::fromUtf8("未分類のサイト"));
    EXPECT_EQ(Cell(SiteList(*form), 1, 1), QString::fromUtf8("文字通り未分類"));
    EXPECT_EQ(Rows(VisitList(*form)), 2);  // the visit list follows the category
    EXPECT_EQ(Child<QTabWidget>(*form, "PageControl3")->currentWidget(), Child<QWidget>(*form, "tsSiteList"));  // no page switch
}

TEST_F(MainWindowTest, AddCategoryTrimsAndRefusesEmptyAndDuplicateNames) {
    Start();
    msg.inputAnswers = {QString::fromUtf8("\u3000 新\tカテゴリ \u3000"), QString::fromUtf8("\t 先頭"),
                        QString::fromUtf8(" \u3000 "), QString::fromUtf8("未分類"),
                        QString::fromUtf8("すべてのサイト"), QString::fromUtf8("新カテゴリ")};
    form->tbAddCategoryClick();
    ASSERT_TRUE(Node("新カテゴリ"));
    EXPECT_EQ(Tree(*form)->currentItem(), Node("新カテゴリ"));
    EXPECT_EQ(Node("新カテゴリ")->parent(), Tree(*form)->topLevelItem(0));
    EXPECT_EQ(msg.inputs.first(), QString::fromUtf8("カテゴリの追加|カテゴリ名を入力してください"));
    form->tbAddCategoryClick();  // spaces are trimmed before TABs go, so this space stays
    EXPECT_TRUE(Node(" 先頭"));
    for (int i = 0; i < 4; ++i) form->tbAddCategoryClick();
    EXPECT_EQ(msg.errors, (QStringList{QString::fromUtf8("カテゴリ名が入力されていません"),
                                       QString::fromUtf8("既に同じ名前のカテゴリが設定されています"),
                                       QString::fromUtf8("既に同じ名前のカテゴリが設定されています"),
                                       QString::fromUtf8("既に同じ名前のカテゴリが設定されています")}));
    const int before = Tree(*form)->AllNodes().size();
    form->tbAddCategoryClick();  // cancelled: nothing happens
    EXPECT_EQ(Tree(*form)->AllNodes().size(), before);
}

TEST_F(MainWindowTest, DeleteCategoryAsksAndMovesItsSitesToUncategorised) {
    const std::string data = PreparedDataFile();
    Start(&data);
    Tree(*form)->setCurrentItem(nullptr);
    form->tbDeleteCategoryClick();
    SelectCategory("未分類");
    form->tbDeleteCategoryClick();
    SelectCategory("すべてのサイト");
    form->tbDeleteCategoryClick();
    EXPECT_EQ(msg.errors, (QStringList{QString::fromUtf8("カテゴリが選択されていません"),
                                       QString::fromUtf8("システムカテゴリは削除できません"),
                                       QString::fromUtf8("システムカテゴリは削除できません")}));
    SelectCategory("日記");
    msg.answers = {false, true};
    form->tbDeleteCategoryClick();
    EXPECT_TRUE(Node("日記"));
    form->tbDeleteCategoryClick();
    EXPECT_FALSE(Node("日記"));
    EXPECT_EQ(msg.questions.last(), QString::fromUtf8("選択したカテゴリを削除しますか？\r\n\r\n [日記]"));
    SelectCategory("未分類");
    EXPECT_EQ(Rows(SiteList(*form)), 3);
    // Re-adding the name does not bring the sites back.
    msg.inputAnswers = {QString::fromUtf8("日記")};
    form->tbAddCategoryClick();
    EXPECT_EQ(Rows(SiteList(*form)), 0);
}

TEST_F(MainWindowTest, DragRulesAndDrops) {
    const std::string data = PreparedDataFile();
    Start(&data);
    QObject* tree = Tree(*form);
    QObject* list = SiteList(*form);
    QObject* stranger = VisitList(*form);
    EXPECT_FALSE(form->ftBlogCategoriesDragOver(nullptr, list));
    EXPECT_FALSE(form->ftBlogCategoriesDragOver(Node("技術"), stranger));
    EXPECT_FALSE(form->ftBlogCategoriesDragOver(Node("すべてのサイト"), list));
    EXPECT_TRUE(form->ftBlogCategoriesDragOver(Node("未分類"), list));
    SelectCategory("未分類");
    EXPECT_FALSE(form->ftBlogCategoriesDragOver(Node("技術"), tree));
    SelectCategory("すべてのサイト");
    EXPECT_FALSE(form->ftBlogCategoriesDragOver(Node("技術"), tree));
    SelectCategory("日記");
    EXPECT_TRUE(form->ftBlogCategoriesDragOver(Node("日記"), tree));  // onto itself: accepted...

    auto order = [&] {
        QStringList names;
        QTreeWidgetItem* root = Tree(*form)->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) names << root->child(i)->text(0);
        return names.join(",");
    };
    form->ftBlogCategoriesDragDrop(Node("日記"), tree);  // ...and nothing is lost
    EXPECT_EQ(order(), QString::fromUtf8("未分類,日記,技術,写真"));
    form->ftBlogCategoriesDragDrop(Node("技術"), tree);  // lands right after the target
    EXPECT_EQ(order(), QString::fromUtf8("未分類,技術,日記,写真"));
    EXPECT_EQ(Tree(*form)->currentItem(), Node("日記"));
    form->ftBlogCategoriesDragDrop(Node("すべてのサイト"), tree);  // onto the root: the end
    EXPECT_EQ(order(), QString::fromUtf8("未分類,技術,写真,日記"));
    SelectCategory("日記");
    ASSERT_EQ(Rows(SiteList(*form)), 1);  // its sites followed the category

    // A site dropped on a category takes its name; on "未分類" its category is emptied.
    SelectCategory("すべてのサイト");
    SelectSiteRow(1);  // 技術メモ
    form->ftBlogCategoriesDragDrop(Node("写真"), list);
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(1)).Category, S("写真"));
    SelectSiteRow(1);
    form->ftBlogCategoriesDragDrop(Node("未分類"), list);
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(1)).Category, "");
    SelectSiteRow(1);
    form->ftBlogCategoriesDragDrop(Node("すべてのサイト"), list);
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(1)).Category, "");
}

TEST_F(MainWindowTest, DeleteSiteAndToggleHeadSkip) {
    std::string data = PreparedDataFile();
    // A second line with the first site's URL: every command reaches only the first.
    const std::string twin = Site("双子", "http://a.example/blog", "日記");
    data.insert(data.find("<!--/\tBlogList"), twin + "\r\n");
    Start(&data);
    SiteList(*form)->selectionModel()->clear();
    form->tbDeleteSiteClick();
    form->HEADH1Click();
    form->T2Click();
    form->lvSiteListDblClick();
    EXPECT_EQ(msg.errors.size(), 4);
    for (const QString& e : msg.errors) EXPECT_EQ(e, QString::fromUtf8("サイトが選択されていません"));

    SelectSiteRow(6);  // the twin
    form->HEADH1Click();
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(0)).HeadCheck, "Skip");
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(6)).HeadCheck, "");
    SelectSiteRow(0);
    form->HEADH1Click();
    EXPECT_EQ(hanabira::ReadSiteRecord(form->SiteTable().Get(0)).HeadCheck, "");

    SelectSiteRow(2);
    msg.answers = {false, true};
    form->tbDeleteSiteClick();
    EXPECT_EQ(form->SiteTable().Count(), 7);
    EXPECT_EQ(msg.questions.last(), QString::fromUtf8("選択したサイトを削除しますか？\r\n\r\n[写真館]"));
    SelectSiteRow(2);
    form->tbDeleteSiteClick();
    EXPECT_EQ(form->SiteTable().Count(), 6);
    EXPECT_EQ(Rows(SiteList(*form)), 6);
    EXPECT_EQ(hanabira::IndexOfURL(form->SiteTable(), "http://c.example"), -1);
}

TEST_F(MainWindowTest, DoubleClickStampsTheVisitInBothLists) {
    const std::string data = PreparedDataFile();
    Start(&data);
    Child<QTabWidget>(*form, "PageControl3")->setCurrentWidget(Child<QWidget>(*form, "tsVisitSiteLists"));
    VisitList(*form)->selectionModel()->setCurrentIndex(VisitList(*form)->model()->index(0, 0),
                                                         QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    const QString url = Cell(VisitList(*form), 0, 2);
    form->lvVisitSiteDblClick();
    const int i = hanabira::IndexOfURL(form->SiteTable(), url.toStdString());
    const std::string stamp = hanabira::ReadSiteRecord(form->SiteTable().Get(i)).LastVisit;
    EXPECT_EQ(stamp.size(), 19u);
    EXPECT_EQ(Cell(VisitList(*form), 0, 3).size(), 19);  // still listed, with the new date
    EXPECT_EQ(Rows(VisitList(*form)), 5);
}

TEST_F(MainWindowTest, ListColumnsFollowTheColumnText) {
    Start();
    QTreeView* v = SiteList(*form);
    ASSERT_EQ(v->model()->columnCount(), 11);
    const char* captions[] = {"No", "サイト名", "URL", "最終訪問日", "最終更新日", "HEAD日時",
                              "カテゴリ", "登録日付", "RSSURL", "HEADチェック", "管理人名"};
    const int widths[] = {40, 150, 150, 120, 120, 120, 100, 120, 100, 80, 80};
    for (int i = 0; i < 11; ++i) {
        EXPECT_EQ(v->model()->headerData(i, Qt::Horizontal).toString(), QString::fromUtf8(captions[i]));
        EXPECT_EQ(v->columnWidth(i), hanabira::ScaledColumnWidth(v, widths[i]));
    }
    EXPECT_EQ(v->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(v->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_FALSE(v->header()->sectionsClickable());

    QTreeView other;
    auto* model = new hanabira::VirtualListModel(&other);
    other.setModel(model);
    hanabira::SetupListColumns(&other, S("No:40 サイト名:300"));
    ASSERT_EQ(model->columnCount(), 2);
    EXPECT_EQ(model->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QString::fromUtf8("サイト名"));
    EXPECT_EQ(other.columnWidth(1), hanabira::ScaledColumnWidth(&other, 300));
    EXPECT_GE(other.columnWidth(1), 300);
    hanabira::SetupListColumns(&other, "");
    EXPECT_EQ(model->columnCount(), 0);
    EXPECT_EQ(other.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST(ColumnSpec, ItemsWithoutColonsOrNumbersFallBackTo100) {
    struct Case {
        const char* spec;
        std::vector<std::pair<std::string, int>> columns;
    } cases[] = {
        {"A:10 B", {{"A", 10}, {"B", 100}}},
        {"A:1:2", {{"A", 100}}},
        {"A:10  B:20", {{"A", 10}, {"", 100}, {"B", 20}}},
        {"A:x B:", {{"A", 100}, {"B", 100}}},
        {"A:10 ", {{"A", 10}}},
    };
    for (const Case& c : cases) {
        const auto got = hanabira::ParseColumnSpec(c.spec);
        ASSERT_EQ(got.size(), c.columns.size()) << c.spec;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].Caption, c.columns[i].first) << c.spec;
            EXPECT_EQ(got[i].Width, c.columns[i].second) << c.spec;
        }
    }
    // A caption whose double-byte characters carry 0x5C or 0x7C second bytes, and no false colon.
    const auto jp = hanabira::ParseColumnSpec(S("表ソ:55 ポ"));
    ASSERT_EQ(jp.size(), 2u);
    EXPECT_EQ(jp[0].Caption, S("表ソ"));
    EXPECT_EQ(jp[0].Width, 55);
}

TEST_F(MainWindowTest, RefreshThatShortensTheListSelectsTheTopRow) {
    Start();
    for (int i = 0; i < 200; ++i) {
        TMWBlogListRec r;
        r.SiteTitle = "site" + std::to_string(i);
        r.SiteURL = "http://s" + std::to_string(i) + ".example";
        form->SiteTable().Add(hanabira::WriteSiteRecord(r));
    }
    form->ShowSelectedCategory();  // the root: every site
    QTreeView* list = SiteList(*form);
    ASSERT_EQ(Rows(list), 200);
    SelectSiteRow(150);
    list->scrollTo(list->model()->index(150, 0));
    while (form->SiteTable().Count() > 5) form->SiteTable().Delete(form->SiteTable().Count() - 1);
    form->ShowSelectedCategory();
    EXPECT_EQ(Rows(list), 5);
    EXPECT_EQ(hanabira::SelectedRow(list), 0);
    EXPECT_EQ(list->currentIndex().row(), 0);
    // No site left: no row.
    while (form->SiteTable().Count() > 0) form->SiteTable().Delete(0);
    form->ShowSelectedCategory();
    EXPECT_EQ(Rows(list), 0);
    EXPECT_EQ(form->CategorySites().Count(), 0);
}

TEST_F(MainWindowTest, OnlyVisibleRowsAreFormatted) {
    Start();
    for (int i = 0; i < 20000; ++i) {
        TMWBlogListRec r;
        r.SiteTitle = "site" + std::to_string(i);
        r.SiteURL = "http://s" + std::to_string(i) + ".example";
        form->SiteTable().Add(hanabira::WriteSiteRecord(r));
    }
    auto* model = qobject_cast<hanabira::VirtualListModel*>(SiteList(*form)->model());
    form->ShowCategory(hanabira::AllSitesCategory());
    model->FormattedCells = 0;
    SiteList(*form)->repaint();
    EXPECT_EQ(Rows(SiteList(*form)), 20000);
    EXPECT_GT(model->FormattedCells, 0);
    EXPECT_LT(model->FormattedCells, 11 * 200);
}

TEST_F(MainWindowTest, AboutBoxNamesTheVersion) {
    Start();
    form->tbAboutClick();
    ASSERT_EQ(msg.infos.size(), 1);
    EXPECT_TRUE(msg.infos[0].startsWith(QString::fromUtf8("VUVarovaduro Hanabira 2号 ver.20100501\r\n")));
}

// A fault that no command handles reaches the event boundary: the user is told, the window and
// its list stay, and the list is still saved at close.
TEST_F(MainWindowTest, AFaultInAnEventIsReportedAndTheListSurvivesToTheClose) {
    const std::string data = PreparedDataFile();
    Start(&data);
    QTimer::singleShot(0, form.get(), [] { throw std::runtime_error("broken step"); });
    QTimer::singleShot(0, form.get(), [] { throw 42; });
    testing_support::WaitUntil([&] { return msg.errors.size() == 2; }, 5000);
    ASSERT_EQ(msg.errors.size(), 2);
    EXPECT_TRUE(msg.errors[0].contains("broken step"));
    EXPECT_TRUE(msg.errors[1].contains(QString::fromUtf8("処理中にエラーが発生しました")));
    EXPECT_TRUE(form->isVisible());
    form->tbAboutClick();
    EXPECT_EQ(msg.infos.size(), 1) << "the window still takes commands";
    form->close();
    form.reset();
    EXPECT_EQ(SavedFile(), data);
}

TEST_F(MainWindowTest, UnreadableDataFileIsReportedAndNeverWrittenOver) {
    // A folder where the data file should be cannot be read as a file, even by root.
    std::filesystem::create_directory(dir.path() / "RssSites.dat");
    Start();
    ASSERT_EQ(msg.errors.size(), 1);
    EXPECT_TRUE(msg.errors[0].contains("RssSites.dat"));
    form->close();
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "RssSites.dat"));
    EXPECT_TRUE(msg.saveFailures.isEmpty());
}

TEST_F(MainWindowTest, BrokenTreeIsReportedAndTheSitesStillLoad) {
    std::string data = PreparedDataFile();
    data.replace(data.find(std::string("\t") + S("技術")), 1, "\t\t\t");
    Start(&data);
    EXPECT_TRUE(msg.errors.contains("I/O Error:MWLoadTreeFromStrings"));
    EXPECT_EQ(form->SiteTable().Count(), 6);
    EXPECT_TRUE(Node("日記"));  // the nodes before the fault stay
}

TEST_F(MainWindowTest, SaveFailureAtCloseLetsTheUserRetryOrKeepTheWindow) {
    Start();
    // Make the folder unwritable by putting a directory where the temporary file would be renamed.
    std::filesystem::create_directory(dir.path() / "RssSites.dat");
    std::filesystem::create_directory(dir.path() / "RssSites.dat" / "keep");
    msg.saveChoices = {0, 2};  // retry, then cancel
    form->close();
    EXPECT_EQ(msg.saveFailures.size(), 2);
    EXPECT_TRUE(form->isVisible());  // kept open
    std::filesystem::remove_all(dir.path() / "RssSites.dat");
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(msg.saveFailures.size(), 2);
    EXPECT_FALSE(SavedFile().empty());
}

TEST_F(MainWindowTest, TerminationSignalClosesTheWindowAndSaves) {
    const std::string data = PreparedDataFile();
    Start(&data);
    hanabira::CloseOnTerminationSignals(form.get());
    form->SiteTable().Delete(0);
    std::raise(SIGTERM);
    for (int i = 0; i < 100 && form->isVisible(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(SavedFile().find("http://a.example/blog"), std::string::npos);  // the change reached the file
    EXPECT_NE(SavedFile().find("http://b.example"), std::string::npos);
}

TEST(WindowUtility, WrapColumnArithmetic) {
    EXPECT_EQ(hanabira::WrapColumnFor(400, 0, 8, 0, true), 46);
    EXPECT_EQ(hanabira::WrapColumnFor(400, 0, 8, 0, false), 48);
    EXPECT_EQ(hanabira::WrapColumnFor(400, 10, 8, 16, true), 43);
    EXPECT_EQ(hanabira::WrapColumnFor(400, 0, 0, 0, true), 0);
}

TEST(WindowUtility, DoubleClickOpensOnlyWebAndMailAddresses) {
    using hanabira::AddressKind;
    EXPECT_EQ(hanabira::ClassifyAddress("http://example.jp/a?b=c"), AddressKind::Web);
    EXPECT_EQ(hanabira::ClassifyAddress("HTTPS://example.jp"), AddressKind::Web);
    EXPECT_EQ(hanabira::ClassifyAddress("user@example.jp"), AddressKind::Mail);
    EXPECT_EQ(hanabira::ClassifyAddress("mailto:user@example.jp"), AddressKind::Mail);
    EXPECT_EQ(hanabira::ClassifyAddress("@user"), AddressKind::None);
    EXPECT_EQ(hanabira::ClassifyAddress(QString::fromUtf8("こんにちは")), AddressKind::None);
    EXPECT_EQ(hanabira::TokenAt("see user@example.jp now", 8), "user@example.jp");

    QTextEdit editor;
    editor.setPlainText(QString::fromUtf8("連絡先 user@example.jp まで"));
    QTextCursor c = editor.textCursor();
    c.setPosition(8);
    editor.setTextCursor(c);
    std::vector<QUrl> opened;
    auto saved = hanabira::UrlOpener();
    hanabira::UrlOpener() = [&](const QUrl& u) {
        opened.push_back(u);
        return true;
    };
    EXPECT_TRUE(hanabira::EditorDoubleClick(&editor));
    c.setPosition(1);
    editor.setTextCursor(c);
    EXPECT_FALSE(hanabira::EditorDoubleClick(&editor));
    hanabira::UrlOpener() = saved;
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toString(), "mailto:user@example.jp");
}

TEST_F(MainWindowTest, MinimiseHidesEveryWindowAndTheTrayRestoresOnlyTheMain) {
    Start();
    QWidget other;
    other.show();
    form->WindowUtility().TrayAvailable = [] { return true; };
    form->WindowUtility().MinimizeToTray();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(other.isVisible());
    form->WindowUtility().RestoreFromTray();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(other.isVisible());
    // Without a tray nothing is hidden: there would be no way back.
    form->WindowUtility().TrayAvailable = [] { return false; };
    form->WindowUtility().MinimizeToTray();
    EXPECT_TRUE(form->isVisible());
}

}  // namespace

namespace {

TEST(WindowUtility, EditorsGetTheirWrapWheelAndPagesTheirFirstPage) {
    QWidget window;
    auto* editor = new QTextEdit(&window);
    editor->resize(400, 200);
    auto* pages = new QTabWidget(&window);
    pages->addTab(new QWidget, "a");
    pages->addTab(new QWidget, "b");
    pages->setCurrentIndex(1);
    window.show();
    hanabira::TMWUtility utility;
    utility.SetupEditors();
    EXPECT_EQ(editor->lineWrapMode(), QTextEdit::FixedColumnWidth);
    const int column = editor->lineWrapColumnOrWidth();
    EXPECT_GT(column, 10);
    editor->resize(800, 200);  // re-fitted on resize
    QApplication::processEvents();
    EXPECT_GT(editor->lineWrapColumnOrWidth(), column);

    QString text;
    for (int i = 0; i < 200; ++i) text += QString::number(i) + "\n";
    editor->setPlainText(text);
    QApplication::processEvents();
    QScrollBar* bar = editor->verticalScrollBar();
    bar->setValue(bar->singleStep() * 5);
    const int at = bar->value();
    hanabira::EditorWheel(editor, -120);
    EXPECT_EQ(bar->value(), at + bar->singleStep());
    hanabira::EditorWheel(editor, 120);
    EXPECT_EQ(bar->value(), at);

    hanabira::ResetPageControls();
    EXPECT_EQ(pages->currentIndex(), 0);
}

}  // namespace
