// A data file that does not read whole is never written over: not at close, not after a
// registration; the user is told which file, and can still work.
#include <QApplication>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/startup.h"
#include "gui_test_support.h"
#include "store/site_record.h"
#include "test_support.h"
#include "ui/main/main_window.h"

namespace {

namespace fs = std::filesystem;
using testing_support::S;

TEST(DataFileSafety, DamagedFilesAreReportedAndKept) {
    const std::string tree = "<!--\tTree\t-->6 7 -1 5 0 -1 0 0 -1 0 0 -1 \r\n" + S("すべてのサイト\r\n\t未分類\r\n");
    const std::string sites = "<!--\tBlogList\t-->A\thttp://a.example\r\n<!--/\tBlogList\t-->\r\n";
    enum class Kind { Bytes, Fifo, Huge };
    struct Case {
        const char* name;
        Kind kind;
        std::string bytes;
        int sitesLoaded;
        bool treeMessage;  // the tree's own error box comes first
    };
    const std::vector<Case> cases = {
        {"a tree line two levels too deep", Kind::Bytes,
         tree + "\t\t\t" + S("深すぎ") + "\r\n\t" + S("後") + "\r\n<!--/\tTree\t-->" + sites, 1, true},
        {"cut inside the tree section", Kind::Bytes, tree + "\t" + S("途中"), 0, false},
        {"a FIFO", Kind::Fifo, "", 0, false},
        {"2 GiB", Kind::Huge, tree + "<!--/\tTree\t-->" + sites, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TempDir dir;
        testing_support::MessageScope scope;
        const std::string path = dir.file("RssSites.dat");
        if (c.kind == Kind::Fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        } else {
            testing_support::WriteFileBytes(path, c.bytes);
            if (c.kind == Kind::Huge) fs::resize_file(path, uintmax_t{2} << 30);  // sparse
        }
        const auto before = fs::status(path).type();
        const auto size = c.kind == Kind::Fifo ? 0 : fs::file_size(path);

        auto form = std::make_unique<hanabira::TForm1>(QString::fromStdString(dir.path().string()));
        hanabira::RunStartupSequence(*form);
        form->show();
        EXPECT_TRUE(form->DataFileBlocked());
        EXPECT_EQ(form->SiteTable().Count(), c.sitesLoaded);
        const QStringList& errors = scope.messages->errors;
        ASSERT_EQ(errors.size(), c.treeMessage ? 2 : 1) << errors.join("|").toStdString();
        if (c.treeMessage) {
            EXPECT_EQ(errors[0], "I/O Error:MWLoadTreeFromStrings");
        }
        EXPECT_TRUE(errors.last().contains(QString::fromStdString(path))) << errors.last().toStdString();
        EXPECT_TRUE(errors.last().contains(QString::fromUtf8("上書きしません")));

        // Working on: a registration and the close save nothing.
        hanabira::TMWBlogListRec rec;
        rec.SiteTitle = "B";
        rec.SiteURL = "http://b.example";
        form->AddOrUpdateSite(rec, false);
        EXPECT_EQ(form->SiteTable().Count(), c.sitesLoaded + 1);
        form->close();
        form.reset();
        EXPECT_EQ(fs::status(path).type(), before);
        if (c.kind == Kind::Bytes) {
            EXPECT_EQ(testing_support::ReadFileBytes(path), c.bytes);
        } else {
            EXPECT_EQ(c.kind == Kind::Fifo ? 0 : fs::file_size(path), size);
        }
        EXPECT_TRUE(scope.messages->saveFailures.isEmpty());
    }
}

}  // namespace
