// Adding and then editing a site through the main window, down to the bytes of its line.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeView>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "gui_test_support.h"
#include "register/probe_server.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/category_tree_widget.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::SiteList;
using testing_support::Tree;
using testing_support::S;

namespace {

class RegistrationFlowTest : public ::testing::Test {
protected:
    void SetUp() override {
        server.Serve("/blog", probe_testing::Encode(
                                  "<html><head><title>ページ</title>"
                                  "<link rel=\"stylesheet\" href=\"/s.css\">"
                                  "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"" +
                                      server.Url("/Feed.XML") + "\"></head><body>本文</body></html>",
                                  "CP932"));
        server.Serve("/Feed.XML",
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss><channel><title>花びら Garden</title>"
                     "<item><pubDate>Mon, 07 Dec 2020 03:16:43 +0900</pubDate></item></channel></rss>",
                     "application/xml");
        form = std::make_unique<hanabira::TForm1>(QString::fromStdString(dir.path().string()));
        form2 = new hanabira::TForm2(form.get());
        form->AttachRegistrationWindow(form2);
        hanabira::RunStartupSequence(*form);
        form->show();
        msg.inputAnswers = {QString::fromUtf8("日記")};
        form->tbAddCategoryClick();
        Tree(*form)->setCurrentItem(Tree(*form)->topLevelItem(0));
    }
    void TearDown() override {
        form->close();
        form.reset();
    }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    testing_support::RecordedMessages& msg = *scope.messages;
    probe_testing::ProbeServer server;
    std::unique_ptr<hanabira::TForm1> form;
    hanabira::TForm2* form2 = nullptr;
};

TEST_F(RegistrationFlowTest, AddThenEditStoresTheExactLine) {
    Child<QTabWidget>(*form, "PageControl3")->setCurrentWidget(Child<QWidget>(*form, "tsVisitSiteLists"));
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();  // the show preparation empties the fields for a new site
        EXPECT_TRUE(f->edSiteURL->text().isEmpty());
        EXPECT_TRUE(f->cbHeadCheck->isChecked());
        ASSERT_EQ(f->cbCategory->count(), 1);  // the category added above, no system categories
        f->edSiteURL->setText(QString::fromStdString("  " + server.Url("/blog") + "/ "));
        ASSERT_TRUE(f->ProbeSite(true));
        f->cbCategory->setCurrentIndex(0);
        f->edManagerName->setText(QString::fromUtf8("はなこ"));
        f->RegisterSite();
        f->hide();
    });
    form->tbAddSiteClick();
    EXPECT_FALSE(form->InEditMode());
    ASSERT_EQ(form->SiteTable().Count(), 1);
    const std::string line = form->SiteTable().Get(0);
    const hanabira::TMWBlogListRec rec = hanabira::ReadSiteRecord(line);
    ASSERT_EQ(rec.Registered.size(), 19u);
    // Title and feed URL keep their letter case (the page announces /Feed.XML); the new site is
    // checked at once, so its feed date is there; "Skip" leaves the HEAD date empty.
    EXPECT_EQ(line, S("花びら Garden") + "\t" + server.Url("/blog") + "\t\t" + rec.Registered +
                        "\t2020/12/07 03:16:43\t" + S("日記") + "\t" + server.Url("/Feed.XML") + "\t\tSkip\t" +
                        S("はなこ"));
    EXPECT_TRUE(msg.errors.isEmpty());
    EXPECT_EQ(Child<QTabWidget>(*form, "PageControl3")->currentWidget(), Child<QWidget>(*form, "tsSiteList"));
    // Registration saves the data file at once.
    EXPECT_NE(testing_support::ReadFileBytes(dir.file("RssSites.dat")).find(line + "\r\n"), std::string::npos);

    // Edit: prefilled fields, kept dates, the line replaced in place, no check.
    form->SiteTable().Put(0, hanabira::WriteSiteRecord([&] {
        auto r = rec;
        r.LastVisit = "2026/12/01 10:00:00";
        r.LastUpdate = "2026/11/30 09:00:00";
        r.HeadTime = "2026/11/30 09:00:01";
        return r;
    }()));
    form->ShowSelectedCategory();
    SiteList(*form)->selectionModel()->setCurrentIndex(SiteList(*form)->model()->index(0, 0),
                                                        QItemSelectionModel::ClearAndSelect |
                                                            QItemSelectionModel::Rows);
    server.ClearRequests();
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();
        EXPECT_EQ(f->edSiteURL->text().toStdString(), server.Url("/blog"));
        EXPECT_EQ(f->edSiteTitle->text(), QString::fromUtf8("花びら Garden"));
        EXPECT_EQ(f->cbCategory->currentText(), QString::fromUtf8("日記"));
        EXPECT_TRUE(f->cbHeadCheck->isChecked());
        f->cbHeadCheck->setChecked(false);
        f->edManagerName->setText(QString::fromUtf8("花子"));
        f->RegisterSite();
        f->hide();
    });
    form->T2Click();
    EXPECT_TRUE(form->InEditMode());
    ASSERT_EQ(form->SiteTable().Count(), 1);
    EXPECT_EQ(form->SiteTable().Get(0), S("花びら Garden") + "\t" + server.Url("/blog") +
                                               "\t2026/12/01 10:00:00\t" + rec.Registered +
                                               "\t2026/11/30 09:00:00\t" + S("日記") + "\t" +
                                               server.Url("/Feed.XML") + "\t\t\t" + S("花子"));
    EXPECT_TRUE(server.Requests().empty());  // an edit is not checked

    // The next add shows empty fields again, but keeps the manager name.
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();
        EXPECT_TRUE(f->edSiteURL->text().isEmpty());
        EXPECT_TRUE(f->edSiteTitle->text().isEmpty());
        EXPECT_TRUE(f->cbHeadCheck->isChecked());
        EXPECT_EQ(f->cbCategory->currentIndex(), -1);
        EXPECT_EQ(f->edManagerName->text(), QString::fromUtf8("花子"));
        f->hide();
    });
    form->tbAddSiteClick();
    EXPECT_TRUE(form->RegistrationWindow()->KeptLastVisit.empty());
    EXPECT_TRUE(msg.errors.isEmpty());
}

// Without a selected category a registration stores and saves the site, but does not check it.
TEST_F(RegistrationFlowTest, WithNoCategorySelectedTheSiteIsStoredButNotChecked) {
    Tree(*form)->setCurrentItem(nullptr);
    server.ClearRequests();
    form->SetRegistrationModal([&](hanabira::TForm2* f) {
        f->show();
        f->edSiteURL->setText(QString::fromStdString(server.Url("/blog")));
        f->edSiteTitle->setText(QString::fromUtf8("花びら"));
        f->edRSSURL->setText(QString::fromStdString(server.Url("/Feed.XML")));
        f->cbHeadCheck->setChecked(false);
        f->RegisterSite();
        f->hide();
    });
    form->tbAddSiteClick();
    ASSERT_EQ(form->SiteTable().Count(), 1);
    const hanabira::TMWBlogListRec rec = hanabira::ReadSiteRecord(form->SiteTable().Get(0));
    EXPECT_TRUE(rec.LastUpdate.empty());
    EXPECT_TRUE(rec.HeadTime.empty());
    EXPECT_TRUE(server.Requests().empty()) << "neither the HEAD nor the feed request";
    EXPECT_NE(testing_support::ReadFileBytes(dir.file("RssSites.dat")).find(server.Url("/Feed.XML")),
              std::string::npos);
    EXPECT_TRUE(msg.errors.isEmpty());
}

}  // namespace
