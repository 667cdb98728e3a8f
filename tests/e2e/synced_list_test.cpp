// The site list in a synced folder: another computer's copy is renamed over the data file while
// the real program runs; the program merges it in, a site registered afterwards joins it, and at
// close the file holds every site of both sides once.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/program.h"
#include "gui/gui_test_support.h"
#include "http_test_server.h"
#include "register/registration_window.h"
#include "store/category_tree.h"
#include "store/site_data.h"
#include "store/site_record.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using testing_support::Child;
using testing_support::WaitUntil;

namespace {

std::string DataFile(const std::vector<std::pair<std::string, std::string>>& sites) {
    hanabira::TLightStrings table('\t');
    for (const auto& [title, url] : sites) {
        hanabira::TMWBlogListRec r;
        r.SiteTitle = title;
        r.SiteURL = url;
        r.Registered = "2026/12/01 00:00:00";
        r.HeadCheck = "1";
        table.Add(hanabira::WriteSiteRecord(r));
    }
    return hanabira::SiteDataBytes(table, hanabira::BuiltInCategoryTree());
}

int Occurrences(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST(SyncedList, ACopyRenamedOverWhileRunningIsMergedAndNothingIsLost) {
    testing_support::TempDir dir;
    const std::string data = dir.file("RssSites.dat");
    testing_support::WriteFileBytes(data, DataFile({{"Here", "http://here.example/"}}));
    testing_support::MessageScope messages;
    testing_support::HttpTestServer server([](testing_support::HttpTestServer& s) {
        s.Get("/new", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><head><title>New blog</title>"
                            "<link rel=\"alternate\" type=\"application/rss+xml\" href=\"/new/rss.xml\">"
                            "</head><body></body></html>",
                            "text/html");
        });
        s.Get("/new/rss.xml", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>New blog</title>"
                            "</channel></rss>",
                            "application/rss+xml");
        });
    });

    hanabira::Program program(QString::fromStdString(dir.path().string() + "/"));
    program.Start();
    hanabira::TForm1& main = program.Main();
    hanabira::TForm2& reg = program.Registration();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    ASSERT_EQ(main.SiteTable().Count(), 1);

    // The other computer added a site; its sync tool writes beside the file and renames over it.
    testing_support::WriteFileBytes(dir.file(".RssSites.dat.synctmp"),
                                    DataFile({{"Here", "http://here.example/"}, {"There", "http://there.example/"}}));
    std::filesystem::rename(dir.file(".RssSites.dat.synctmp"), data);
    ASSERT_TRUE(WaitUntil([&] { return main.SiteTable().Count() == 2; }, 15000));
    EXPECT_EQ(main.statusBar()->currentMessage(),
              QString::fromUtf8("他で変更されたサイトリストを統合しました: 追加 1 件、削除 0 件、競合 0 件"));

    // A site registered here afterwards.
    QTimer::singleShot(200, &reg, [&] {
        reg.edSiteURL->setText(QString::fromStdString(server.Url("/new")));
        QTest::mouseClick(reg.btnSiteCheck, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !reg.edRSSURL->text().isEmpty() && !reg.Busy(); }));
        QTest::mouseClick(reg.btnSetSite, Qt::LeftButton);
    });
    Child<QAction>(main, "tbAddSite")->trigger();
    ASSERT_EQ(main.SiteTable().Count(), 3);

    main.close();
    const std::string saved = testing_support::ReadFileBytes(data);
    EXPECT_EQ(Occurrences(saved, "http://here.example/"), 1);
    EXPECT_EQ(Occurrences(saved, "http://there.example/"), 1);
    EXPECT_EQ(Occurrences(saved, server.Url("/new") + "\t"), 1);
    EXPECT_TRUE(messages.messages->errors.isEmpty()) << messages.messages->errors.join("\n").toStdString();
}
