// The main window's OPML commands: import into a program with sites, export and import into an
// empty one, and the cases where nothing may change.
#include "ui/main/opml_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <QApplication>
#include <QComboBox>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidgetItem>
#include <functional>
#include <memory>
#include <string>

#include "app/startup.h"
#include "gui_test_support.h"
#include "register/registration_window.h"
#include "store/opml.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::Tree;
using hanabira::TForm1;
using hanabira::TMWBlogListRec;
using testing_support::S;

namespace {

std::string Site(const char* title, const char* url, const char* category) {
    TMWBlogListRec r;
    r.SiteTitle = S(title);
    r.SiteURL = url;
    r.LastVisit = "2026/12/05 09:00:00";
    r.Registered = "2026/12/01 10:00:00";
    r.Category = S(category);
    r.RSSURL = std::string(url) + "/index.rdf";
    return hanabira::WriteSiteRecord(r);
}

std::string DataFile() {
    std::string t = "<!--\tTree\t-->6 7 -1 5 0 -1 5 0 -1 5 0 -1 5 0 -1 \r\n";
    t += S("すべてのサイト") + "\r\n\t" + S("未分類") + "\r\n\t" + S("日記") + "\r\n\t\t" + S("旅行記") +
         "\r\n\t" + S("技術") + "\r\n";
    t += "<!--/\tTree\t--><!--\tBlogList\t-->";
    t += Site("花びら日記", "http://a.example/blog", "日記") + "\r\n";
    t += Site("北海道の旅", "http://t.example", "旅行記") + "\r\n";
    t += Site("技術メモ", "http://b.example", "技術") + "\r\n";
    t += Site("未分類のサイト", "http://d.example", "") + "\r\n";
    return t + "<!--/\tBlogList\t-->\r\n";
}

// A subscription list as another reader writes it, in UTF-8.
const char kImport[] = R"xml(<?xml version="1.0" encoding="UTF-8"?>
<opml version="2.0">
  <head><title>My feeds</title></head>
  <body>
    <outline text="日記" title="日記">
      <outline text="新しい日記" type="rss" xmlUrl="http://n.example/rss" htmlUrl="http://n.example/"/>
      <outline text="登録済みのフィード" type="rss" xmlUrl="http://a.example/blog/index.rdf"/>
      <outline text="季節">
        <outline text="桜 &amp; 紅葉" type="rss" xmlUrl="http://s.example/blog/atom.xml"/>
      </outline>
    </outline>
    <outline text="料理">
      <outline text="今日の献立" type="rss" xmlUrl="http://k.example/feed" htmlUrl="http://k.example/"/>
      <outline text="献立をもう一度" type="rss" xmlUrl="http://k.example/feed2" htmlUrl="http://k.example"/>
    </outline>
    <outline text="技術メモ(別名)" type="rss" xmlUrl="http://b.example/other.xml" htmlUrl="http://b.example"/>
    <outline text="単独" type="rss" xmlUrl="http://solo.example/index.xml"/>
  </body>
</opml>
)xml";

// The tree in its stored form: names indented by depth, in tree order.
std::string TreeText(const hanabira::CategoryTree& tree) {
    return hanabira::MWSaveTreeToStrings(tree);
}

class OpmlCommands : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = hanabira::OpmlDialogs();
        hanabira::OpmlDialogs().OpenFile = [this](QWidget*) {
            ++dialogs;
            return QString::fromStdString(openPath);
        };
        hanabira::OpmlDialogs().SaveFile = [this](QWidget*) {
            ++dialogs;
            return QString::fromStdString(savePath);
        };
        form = Start(dir, DataFile());
    }
    void TearDown() override {
        if (form) form->close();
        form.reset();
        hanabira::OpmlDialogs() = saved_;
    }
    std::unique_ptr<TForm1> Start(const testing_support::TempDir& in, const std::string& data) {
        if (!data.empty()) testing_support::WriteFileBytes(in.file("RssSites.dat"), data);
        auto f = std::make_unique<TForm1>(QString::fromStdString(in.path().string()));
        f->AttachRegistrationWindow(new hanabira::TForm2(f.get()));
        hanabira::RunStartupSequence(*f);
        f->show();
        QApplication::processEvents();
        return f;
    }
    std::string DataBytes() const { return testing_support::ReadFileBytes(dir.file("RssSites.dat")); }

    testing_support::TempDir dir, files;
    testing_support::MessageScope scope;
    testing_support::RecordedMessages& msg = *scope.messages;
    hanabira::OpmlFileDialogs saved_;
    std::string openPath, savePath;
    int dialogs = 0;
    std::unique_ptr<TForm1> form;
};

TEST_F(OpmlCommands, ReachableFromTheToolbar) {
    auto* button = Child<QToolBar>(*form, "ToolBar2")->findChild<QToolButton*>("tbOpml");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->actions(), (QList<QAction*>{Child<QAction>(*form, "acImportOpml"), Child<QAction>(*form, "acExportOpml")}));
    EXPECT_TRUE(Child<QAction>(*form, "acImportOpml")->text().startsWith(QString::fromUtf8("OPMLファイルから")));
    EXPECT_TRUE(Child<QAction>(*form, "acExportOpml")->text().startsWith(QString::fromUtf8("サイトをOPMLファイルに")));
}

TEST_F(OpmlCommands, ImportMergesSavesAndSaysWhatItDid) {
    openPath = files.file("feeds.opml");
    testing_support::WriteFileBytes(openPath, kImport);
    const std::string table = form->SiteTable().GetText();

    Child<QAction>(*form, "acImportOpml")->trigger();

    EXPECT_TRUE(msg.errors.isEmpty()) << msg.errors.join("|").toStdString();
    ASSERT_EQ(msg.infos.size(), 1);
    EXPECT_EQ(
        msg.infos[0],
        QString::fromUtf8("4 件のサイトを追加しました。\n登録済みまたは重複のため 3 件をスキップしました。"));

    // The registered sites first and untouched; the new ones after them, registered now.
    ASSERT_EQ(form->SiteTable().Count(), 8);
    EXPECT_EQ(form->SiteTable().GetText().substr(0, table.size()), table);
    const char* const feeds[] = {"http://n.example/rss", "http://s.example/blog/atom.xml",
                                 "http://k.example/feed", "http://solo.example/index.xml"};
    const char* const categories[] = {"日記", "季節", "料理", ""};
    for (int i = 0; i < 4; ++i) {
        const TMWBlogListRec r = hanabira::ReadSiteRecord(form->SiteTable().Get(4 + i));
        EXPECT_EQ(r.RSSURL, feeds[i]);
        EXPECT_EQ(r.Category, S(categories[i]));
        EXPECT_EQ(r.Registered.size(), 19u);
    }

    // "日記" was there: its new sub-category goes below it; "料理" is new, under the root.
    const std::string tree = TreeText(Tree(*form)->ToCategoryTree());
    EXPECT_NE(tree.find(S("\t日記\r\n\t\t旅行記\r\n\t\t季節\r\n\t技術\r\n\t料理\r\n")), std::string::npos)
        << tree;

    // Saved, with every new site and category; the views and the registration window follow.
    const std::string after = DataBytes();
    EXPECT_NE(after.find(S("\t料理\r\n")), std::string::npos);
    for (const char* feed : feeds) EXPECT_NE(after.find(feed), std::string::npos) << feed;
    EXPECT_EQ(form->CategorySites().Count(), 8);  // the root is selected
    QComboBox* box = form->RegistrationWindow()->cbCategory;
    QStringList names;
    for (int i = 0; i < box->count(); ++i) names << box->itemText(i);
    EXPECT_TRUE(names.contains(QString::fromUtf8("季節")) && names.contains(QString::fromUtf8("料理")))
        << names.join("|").toStdString();

    // The same file again adds nothing and writes nothing.
    msg.infos.clear();
    Child<QAction>(*form, "acImportOpml")->trigger();
    EXPECT_EQ(form->SiteTable().Count(), 8);
    ASSERT_EQ(msg.infos.size(), 1);
    EXPECT_TRUE(msg.infos[0].startsWith(QString::fromUtf8("0 件のサイトを追加しました。")));
    EXPECT_EQ(DataBytes(), after);
}

TEST_F(OpmlCommands, NothingChangesWhenTheImportCannotBeDone) {
    const std::string data = DataBytes();
    const std::string tree = TreeText(Tree(*form)->ToCategoryTree());
    struct Case {
        const char* name;
        std::string file;  // empty: the dialog is cancelled
        const char* error;  // part of the message, empty for none
    };
    const Case cases[] = {
        {"cancelled", "", ""},
        {"malformed", "<opml>\n<body>\n<outline text=\"x\" xmlUrl=\"http://x.example/rss\">\n</body></opml>",
         "4行目"},
        {"not opml", "<rss><channel/></rss>", "OPMLファイルではありません"},
        {"missing file", "-", "OPMLファイルを読み込めません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        msg.errors.clear();
        msg.infos.clear();
        dialogs = 0;
        openPath = c.file.empty() ? "" : files.file("in.opml");
        if (c.file == "-")
            openPath = files.file("missing.opml");
        else if (!c.file.empty())
            testing_support::WriteFileBytes(openPath, c.file);
        Child<QAction>(*form, "acImportOpml")->trigger();

        EXPECT_EQ(dialogs, 1);
        if (*c.error) {
            ASSERT_EQ(msg.errors.size(), 1);
            EXPECT_TRUE(msg.errors[0].contains(QString::fromUtf8(c.error))) << msg.errors[0].toStdString();
        } else {
            EXPECT_TRUE(msg.errors.isEmpty());
        }
        EXPECT_TRUE(msg.infos.isEmpty());
        EXPECT_EQ(form->SiteTable().Count(), 4);
        EXPECT_EQ(TreeText(Tree(*form)->ToCategoryTree()), tree);
        EXPECT_EQ(DataBytes(), data);
    }
}

// A data file that could not be read at start is kept as it is: nothing is imported into it, and
// the user is not even asked for a file.
TEST_F(OpmlCommands, NothingIsImportedWhileTheDataFileIsKeptUnread) {
    testing_support::TempDir other;
    std::filesystem::create_directory(other.path() / "RssSites.dat");
    std::unique_ptr<TForm1> blocked = Start(other, "");
    ASSERT_TRUE(blocked->DataFileBlocked());
    msg.errors.clear();
    openPath = files.file("in.opml");
    testing_support::WriteFileBytes(openPath, kImport);
    Child<QAction>(*blocked, "acImportOpml")->trigger();
    EXPECT_EQ(dialogs, 0);
    ASSERT_EQ(msg.errors.size(), 1);
    EXPECT_TRUE(msg.errors[0].contains(QString::fromUtf8("取り込めません")));
    EXPECT_EQ(blocked->SiteTable().Count(), 0);
    blocked->close();
}

// Export writes every site for another reader; a file that cannot be written is reported.
TEST_F(OpmlCommands, Export) {
    savePath = files.file("out.opml");
    Child<QAction>(*form, "acExportOpml")->trigger();
    ASSERT_EQ(msg.infos.size(), 1);
    EXPECT_EQ(msg.infos[0], QString::fromUtf8("4 件のサイトを書き出しました。"));
    const hanabira::OpmlImport back = hanabira::ReadOpml(testing_support::ReadFileBytes(savePath));
    EXPECT_EQ(back.Sites.size(), 4u);
    EXPECT_EQ(hanabira::CategoryListText(back.Categories),
              hanabira::CategoryListText(Tree(*form)->ToCategoryTree()));

    savePath = files.file("no-such-folder/out.opml");
    Child<QAction>(*form, "acExportOpml")->trigger();
    ASSERT_EQ(msg.errors.size(), 1);
    EXPECT_TRUE(msg.errors[0].startsWith(QString::fromUtf8("OPMLファイルを書き出せませんでした")));
    EXPECT_EQ(msg.infos.size(), 1);
}

}  // namespace
