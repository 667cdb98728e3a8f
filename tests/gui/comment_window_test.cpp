// The comment window over a fake web view: walking the visit list, the filled comment, the own sites.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QTextEdit>
#include <QTreeView>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "browser/browser_toolbar.h"
#include "browser/comment_window.h"
#include "browser/web_view_frame.h"
#include "fake_web_view.h"
#include "gui_test_support.h"
#include "store/light_strings.h"
#include "store/site_record.h"
#include "store/site_table.h"
#include "support/list_utils.h"
#include "support/qt_text.h"
#include "test_support.h"

using hanabira::TForm3;
using testing_support::FakeWebView;
using testing_support::S;

namespace {

std::string Line(const char* title, const std::string& url, const char* manager) {
    hanabira::TMWBlogListRec r;
    r.SiteTitle = S(title);
    r.SiteURL = url;
    r.ManagerName = S(manager);
    return hanabira::WriteSiteRecord(r);
}

struct Window {
    Window() {
        site.Add(Line("花びら", "http://a.example/blog/", "はな"));
        site.Add(Line("技術", "http://b.example/", "ぎじゅつ"));
        site.Add(Line("写真", "http://c.example/", "しゃしん"));
        for (int i = 0; i < site.Count(); ++i) visit.Add(site.Get(i));
        form.SetSiteTables(&site, &visit, [this](const std::string& url) {
            stamped.push_back(url);
            hanabira::StampLastVisit(visit, url, "2026/12/08 10:00:00");
            form.RefreshSiteList();
        });
        view = FakeWebView::Last();
        view->calls.clear();
    }
    QTreeView* List() { return form.findChild<QTreeView*>("lvSiteList"); }
    int Selected() { return hanabira::SelectedRow(List()); }
    void Select(int row) {
        List()->selectionModel()->setCurrentIndex(List()->model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QTextEdit* Editor(const char* name) { return form.findChild<QTextEdit*>(name); }
    QString Label(const char* name) { return form.findChild<QLabel*>(name)->text(); }
    QComboBox* MySite() { return form.findChild<QComboBox*>("cbMySite"); }

    hanabira::TLightStrings site{'\t'}, visit{'\t'};
    std::vector<std::string> stamped;
    TForm3 form;
    FakeWebView* view;
};

}  // namespace

TEST(CommentWindow, BuiltAsTheUserKnowsIt) {
    Window w;
    EXPECT_EQ(w.form.windowTitle(), QString::fromUtf8("簡易ブラウザ"));
    EXPECT_EQ(w.view->location, "about:blank");
    EXPECT_EQ(w.List()->model()->rowCount(), 3);
    EXPECT_EQ(w.List()->model()->headerData(1, Qt::Horizontal).toString(), QString::fromUtf8("サイト名"));
    EXPECT_EQ(w.form.lvSiteListData(1, 0), "2");
    EXPECT_EQ(w.form.lvSiteListData(1, 1), QString::fromUtf8("技術"));
    EXPECT_EQ(w.Label("lbURL"), "--------------------------------");
    EXPECT_EQ(w.Editor("edComment")->lineWrapMode(), QTextEdit::FixedColumnWidth);
    EXPECT_EQ(w.Editor("edRegistMySite")->lineWrapMode(), QTextEdit::NoWrap);
    for (const char* name : {"ToolButton1", "ToolButton3", "ToolButton4"})
        EXPECT_FALSE(w.form.findChild<QAction*>(name)->toolTip().isEmpty()) << name;
    w.form.show();
    w.form.close();
    EXPECT_FALSE(w.form.isVisible()) << "closing hides";
}

TEST(CommentWindow, PreviousAndNextStopAtBothEnds) {
    testing_support::MessageScope scope;
    Window w;
    const QString none = QString::fromUtf8("表示すべきサイトがありません");

    w.form.ToolButton4Click(-1);  // up with nothing selected
    EXPECT_EQ(scope.messages->errors, QStringList{none});
    EXPECT_TRUE(w.view->calls.isEmpty());

    w.form.ToolButton4Click(+1);  // down with nothing selected: the first site
    EXPECT_EQ(w.Selected(), 0);
    EXPECT_EQ(w.view->calls.last(), "Navigate http://a.example/blog/");
    w.form.ToolButton4Click(-1);
    EXPECT_EQ(scope.messages->errors.size(), 2) << "up on the first row";
    EXPECT_EQ(w.Selected(), 0);

    w.Select(2);
    w.form.ToolButton4Click(+1);
    EXPECT_EQ(scope.messages->errors.size(), 3) << "down on the last row";
    EXPECT_EQ(w.Selected(), 2) << "the selection stays";
    w.form.ToolButton4Click(-1);
    EXPECT_EQ(w.Selected(), 1);
    EXPECT_EQ(w.view->calls.last(), "Navigate http://b.example/");
}

TEST(CommentWindow, OpeningStampsTheVisitAndKeepsTheRow) {
    testing_support::MessageScope scope;
    Window w;
    w.form.lvSiteListDblClick();
    EXPECT_EQ(scope.messages->errors, QStringList{QString::fromUtf8("サイトが選択されていません")});
    EXPECT_TRUE(w.stamped.empty());

    w.Select(1);
    w.form.lvSiteListDblClick();
    EXPECT_EQ(w.stamped, std::vector<std::string>{"http://b.example/"});
    EXPECT_EQ(w.Selected(), 1);
    EXPECT_EQ(w.form.lvSiteListData(1, 1), QString::fromUtf8("技術")) << "the site keeps its place";
    EXPECT_EQ(hanabira::ReadSiteRecord(w.visit.Get(1)).LastVisit, "2026/12/08 10:00:00");
    EXPECT_EQ(w.view->calls.last(), "Navigate http://b.example/");
}

TEST(CommentWindow, CopiedCommentIsFilledWithOwnSiteAndTheManagerOfThePageShown) {
    Window w;
    w.Editor("edRegistMySite")->setPlainText(QString::fromUtf8("私の庭,http://me.example/,はなこ\n別館,http://annex.example/"));
    w.form.SelectMySite(S("私の庭"));
    w.form.cbMySiteChange();
    EXPECT_EQ(w.Label("lbURL"), "http://me.example/");
    EXPECT_EQ(w.Label("lbName"), QString::fromUtf8("はなこ"));
    w.Editor("edComment")->setPlainText(
        QString::fromUtf8("{$manager}さん、こんにちは。\n{$MySiteName}({$MySiteURL})の{$MyName}です。"));

    w.view->FireLoad("http://a.example/blog/2026/12/entry.html", "entry");
    w.form.ToolButton1Click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QString::fromUtf8("はなさん、こんにちは。\r\n私の庭(http://me.example/)のはなこです。"));
    EXPECT_TRUE(w.Editor("edComment")->toPlainText().startsWith("{$manager}")) << "the editor keeps its template";

    w.view->FireLoad("http://unknown.example/");
    w.form.ToolButton1Click();
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith(QString::fromUtf8("さん、"))) << "no manager: empty";

    w.form.SpeedButton1Click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("私の庭"));
    w.form.SpeedButton2Click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://me.example/");
    w.form.SpeedButton3Click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("はなこ"));
}

TEST(CommentWindow, EditingTheOwnSiteListKeepsTheSelectedName) {
    Window w;
    QTextEdit* own = w.Editor("edRegistMySite");
    own->setPlainText(QString::fromUtf8("A,http://a/,me\n\nB,http://b/,me2"));
    EXPECT_EQ(w.MySite()->count(), 3) << "a blank line is an entry too";
    EXPECT_EQ(w.MySite()->itemText(1), "");
    w.form.SelectMySite("b");
    w.form.cbMySiteChange();
    EXPECT_EQ(w.MySite()->currentText(), "B") << "letter case ignored";
    EXPECT_EQ(w.Label("lbName"), "me2");

    own->setPlainText(QString::fromUtf8("C,http://c/\nB,http://b2/,changed"));
    EXPECT_EQ(w.MySite()->currentText(), "B");
    EXPECT_EQ(w.Label("lbURL"), "http://b2/");
    own->setPlainText(QString::fromUtf8("C,http://c/"));
    EXPECT_EQ(w.MySite()->currentIndex(), -1) << "the name is gone: no selection";
    EXPECT_EQ(w.Label("lbURL"), "----");
    EXPECT_EQ(w.Label("lbName"), "----");
    w.form.SelectMySite("C");
    w.form.cbMySiteChange();
    EXPECT_EQ(w.Label("lbURL"), "http://c/");
    EXPECT_EQ(w.Label("lbName"), "") << "a line with fewer fields";
}

TEST(CommentWindow, OwnSitePanelFollowsItsWidth) {
    Window w;
    w.form.resize(900, 600);
    w.form.show();
    QWidget* panel = w.form.findChild<QWidget*>("Panel2");
    panel->resize(300, 81);
    w.form.Panel2Resize();
    EXPECT_EQ(w.MySite()->width(), 300 - 33);
    const QLabel* url = w.form.findChild<QLabel*>("lbURL");
    EXPECT_EQ(url->width(), 300 - url->x() - 23);
    for (const char* name : {"SpeedButton1", "SpeedButton2", "SpeedButton3"})
        EXPECT_EQ(w.form.findChild<QWidget*>(name)->x(), w.MySite()->x() + w.MySite()->width()) << name;
    w.form.hide();
}

TEST(CommentWindow, KeyboardWalksTheListAndDrivesTheBrowser) {
    testing_support::MessageScope scope;
    Window w;
    w.form.show();
    w.form.activateWindow();
    QApplication::processEvents();
    w.List()->setFocus();
    QTest::keyClick(w.List(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(w.Selected(), 0);
    EXPECT_EQ(w.view->calls.last(), "Navigate http://a.example/blog/");
    QTest::keyClick(w.List(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(w.Selected(), 1);

    QTest::keyClick(w.List(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_NE(w.view->calls.last(), "GoBack") << "nothing to go back to";
    w.view->FireCommandState(hanabira::kCommandBack, true);
    QTest::keyClick(w.List(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(w.view->calls.last(), "GoBack");
    QTest::keyClick(w.List(), Qt::Key_F5);
    EXPECT_EQ(w.view->calls.last(), "Refresh");
    QTest::keyClick(w.List(), Qt::Key_Escape);
    EXPECT_EQ(w.view->calls.last(), "Stop");
    QTest::keyClick(w.List(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(w.form.Navi()->AddressBox()->hasFocus());

    // A key the page takes (the fake view says which) goes to the page, not to the window's shortcut.
    w.view->Widget()->setFocusPolicy(Qt::StrongFocus);
    w.view->Widget()->setFocus();
    w.view->calls.clear();
    QTest::keyClick(w.view->Widget(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_TRUE(w.view->calls.isEmpty());
    EXPECT_EQ(w.Selected(), 1);
    w.view->pageKeys = false;
    QTest::keyClick(w.view->Widget(), Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(w.Selected(), 2);
    EXPECT_NE(w.form.findChild<QAction*>("ToolButton4")->toolTip().indexOf("Ctrl"), -1);
    w.form.hide();
}
