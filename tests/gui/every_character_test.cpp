// Every character the user types or a feed holds survives the program: through the settings file
// and a restart to the clipboard, and from a feed title through the data file to the site list;
// files read and closed without a change keep their bytes.
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QTextEdit>

#include <gtest/gtest.h>

#include "app/startup.h"
#include "browser/comment_window.h"
#include "fake_web_view.h"
#include "gui_test_support.h"
#include "register/probe_server.h"
#include "register/registration_window.h"
#include "store/site_record.h"
#include "support/qt_text.h"
#include "test_support.h"
#include "ui/main/main_window.h"

using testing_support::S;

namespace {

// The six strings that were lost, and the nine characters that turned into look-alikes.
const char* const kTyped[] = {"今日も可愛い😊✨", "ゆるふわ日記♡", "𠮷野家", "Café «ル・ポワン»",
                              "ありがとう❤️", "ゔぁんぱいあ", "¥100", "10時〜12時", "A—B", "3−1",
                              "a‖b", "‾", "¢", "£", "¬"};

class EveryCharacterTest : public ::testing::Test {
protected:
    void Start() {
        form1 = std::make_unique<hanabira::TForm1>(QString::fromStdString(dir.path().string()));
        auto* form2 = new hanabira::TForm2(form1.get());
        form1->AttachRegistrationWindow(form2);
        form3 = std::make_unique<hanabira::TForm3>();
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
    QTextEdit* Editor(const char* name) { return form3->findChild<QTextEdit*>(name); }
    std::string File(const char* name) { return testing_support::ReadFileBytes(dir.file(name)); }

    testing_support::TempDir dir;
    testing_support::MessageScope scope;
    std::unique_ptr<hanabira::TForm1> form1;
    std::unique_ptr<hanabira::TForm3> form3;
};

}  // namespace

TEST_F(EveryCharacterTest, TypedTextSurvivesTheSettingsFileARestartAndTheClipboard) {
    Start();
    QStringList comment;
    for (const char* t : kTyped) comment << QString::fromUtf8(t);
    Editor("edComment")->setPlainText(comment.join("\n") + "\n{$MySiteName}");
    Editor("edRegistMySite")->setPlainText(QString::fromUtf8("ゆるふわ日記♡,http://a.example/,はな😊"));
    form3->SelectMySite(S("ゆるふわ日記&#x2661;"));
    form3->cbMySiteChange();
    Close();
    EXPECT_NE(File("gui_tests.ini").find(S("ゆるふわ日記&#x2661;")), std::string::npos) << "Shift_JIS in the file";

    Start();
    form3->ToolButton1Click();
    const QStringList copied = QGuiApplication::clipboard()->text().split("\r\n");
    ASSERT_EQ(copied.size(), static_cast<int>(std::size(kTyped)) + 1);
    for (size_t i = 0; i < std::size(kTyped); ++i) EXPECT_EQ(copied[i].toStdString(), kTyped[i]);
    EXPECT_EQ(copied.last(), QString::fromUtf8("ゆるふわ日記♡"));
    EXPECT_EQ(form3->findChild<QComboBox*>("cbMySite")->currentText(), QString::fromUtf8("ゆるふわ日記♡"));
}

TEST_F(EveryCharacterTest, FeedTitlesInUtf8AndEucJpReachTheSiteListAndStayAfterARestart) {
    probe_testing::ProbeServer server;
    const std::string utf8Title = "ゆるふわ日記♡ 😊 10時〜12時 ¥100 𠮷";
    const std::string eucTitle = "日記 Café 丂";  // é and 丂 are JIS X 0212, not in CP932
    for (const auto& [path, title, code] :
         {std::tuple{std::string("/u"), utf8Title, "UTF-8"}, std::tuple{std::string("/e"), eucTitle, "EUC-JP"}}) {
        server.Serve(path, "<html><head><link rel=\"alternate\" type=\"application/rss+xml\" href=\"" +
                               server.Url(path + "/rss") + "\"></head><body></body></html>");
        server.Serve(path + "/rss",
                     probe_testing::Encode(std::string("<?xml version=\"1.0\" encoding=\"") + code +
                                               "\"?><rss><channel><title>" + title + "</title></channel></rss>",
                                           code),
                     "application/xml");
    }
    Start();
    for (const char* path : {"/u", "/e"}) {
        form1->SetRegistrationModal([&](hanabira::TForm2* f) {
            f->show();
            f->edSiteURL->setText(QString::fromStdString(server.Url(path)));
            ASSERT_TRUE(f->ProbeSite(true));
                        f->RegisterSite();
            f->hide();
        });
        form1->tbAddSiteClick();
    }
    ASSERT_EQ(form1->SiteTable().Count(), 2) << scope.messages->errors.join("\n").toStdString();
    Close();
    EXPECT_NE(File("RssSites.dat").find(S("ゆるふわ日記&#x2661; &#x1f60a; 10時&#x301c;12時 &#xa5;100 &#x20bb7;")),
              std::string::npos);

    Start();
    EXPECT_EQ(form1->lvSiteListData(0, 1).toStdString(), utf8Title);
    EXPECT_EQ(form1->lvSiteListData(1, 1).toStdString(), eucTitle);
}

TEST_F(EveryCharacterTest, FilesReadAndClosedWithoutAChangeKeepTheirBytes) {
    Start();
    Close();
    const std::string settings = File("gui_tests.ini");
    // References in every form but the written one stay as typed; the written one shows as its
    // character and is written back the same.
    const std::string references = S("&#9825; &#X2661; &#x02661; &amp; &#x2661; ♡?");
    for (const bool withReferences : {true, false}) {
        SCOPED_TRACE(withReferences);
        const std::string text = withReferences ? references : S("また来ます。〜");
        std::string s = settings;
        const std::string tag = "<!--edComment.lines\t_Props_\t-->";
        s.insert(s.find(tag) + tag.size(), text + "\r\n");  // a lines value ends with its line break
        hanabira::TMWBlogListRec rec;
        rec.SiteTitle = text;
        rec.SiteURL = "http://a.example/";
        const std::string d = "<!--\tTree\t-->6 7 -1 5 0 -1 \r\n" + S("すべてのサイト") + "\r\n\t" + S("未分類") +
                              "\r\n<!--/\tTree\t--><!--\tBlogList\t-->" + hanabira::WriteSiteRecord(rec) +
                              "\r\n<!--/\tBlogList\t-->\r\n";
        testing_support::WriteFileBytes(dir.file("gui_tests.ini"), s);
        testing_support::WriteFileBytes(dir.file("RssSites.dat"), d);
        Start();
        ASSERT_EQ(form1->SiteTable().Count(), 1);
        Editor("edComment")->setPlainText(Editor("edComment")->toPlainText());  // an edit that changes nothing
        Close();
        EXPECT_EQ(File("gui_tests.ini"), s);
        EXPECT_EQ(File("RssSites.dat"), d);
    }
}
