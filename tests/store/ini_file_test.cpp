#include "store/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using hanabira::TFormPos;
using hanabira::TMWIniFile;
using testing_support::ReadFileBytes;
using testing_support::S;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const std::string kKeys = "\t#_MWDivKeyValues_#\t";
const std::string kMulti = "\t#_MWDivMultiLine_#\t";
const std::string kComp = "\t#_MWDivComponent_#\t";

std::string Props(const std::string& key, const std::string& value) {
    return "<!--" + key + "\t_Props_\t-->" + value + "<!--/" + key + "\t_Props_\t-->";
}

// Stand-ins for the five properties the program registers, as plain values.
struct Controls {
    std::map<std::string, std::string> values = {
        {"ftBlogCategories.width", "150"},
        {"Panel1.width", "185"},
        {"edComment.lines", S("{$Manager}さん、こんにちは。\r\n{$MyName}\r\n")},
        {"lvSiteList.height", "137"},
        {"edRegistMySite.lines", S("日記,http://my.jp/,わたし\r\n")},
    };
    void Register(TMWIniFile& ini) {
        for (const char* key : {"ftBlogCategories.width", "Panel1.width", "edComment.lines", "lvSiteList.height",
                                "edRegistMySite.lines"}) {
            ini.RegisterComponentProp(
                key, [this, key] { return values[key]; }, [this, key](const std::string& v) { values[key] = v; });
        }
    }
};

void WriteNamedValues(TMWIniFile& ini) {
    ini.WriteValue("Form1.Pos", "10\t20\t640\t480");
    ini.WriteValue("Form2.Pos", "30\t40\t400\t300");
    ini.WriteValue("Form3.Pos", "-5\t0\t643\t528");
    ini.WriteValue("BlogDataFileName", "RssSites.dat");
    ini.WriteValue("MySiteSelect", S("日記"));
}

TEST(IniFile, FirstWriteOfAFreshStoreByteForByte) {
    TempDir dir;
    const std::string path = dir.file("hanabira2.ini");
    Controls controls;
    TMWIniFile ini(path);
    controls.Register(ini);
    EXPECT_FALSE(ini.ReadSettings());
    EXPECT_FALSE(ini.Blocked());
    WriteNamedValues(ini);
    ASSERT_TRUE(ini.WriteSettings());
    const std::string want =
        "Form1.Pos=10\t20\t640\t480\r\nForm2.Pos=30\t40\t400\t300\r\nForm3.Pos=-5\t0\t643\t528\r\n"
        "BlogDataFileName=RssSites.dat\r\nMySiteSelect=" + S("日記") + kKeys + kMulti +
        Props("ftBlogCategories.width", "150") + "\r\n" + Props("Panel1.width", "185") + "\r\n" +
        Props("edComment.lines", S("{$Manager}さん、こんにちは。\r\n{$MyName}\r\n")) + "\r\n" +
        Props("lvSiteList.height", "137") + "\r\n" +
        Props("edRegistMySite.lines", S("日記,http://my.jp/,わたし\r\n")) + kComp + "\r\n";
    EXPECT_EQ(ReadFileBytes(path), want);

    // Read back into controls that hold other values: every value comes back.
    Controls other;
    for (auto& [k, v] : other.values) v = "x";
    TMWIniFile again(path);
    other.Register(again);
    ASSERT_TRUE(again.ReadSettings());
    Controls expected;
    // Section content loses the line break at its end.
    expected.values["edComment.lines"] = S("{$Manager}さん、こんにちは。\r\n{$MyName}");
    expected.values["edRegistMySite.lines"] = S("日記,http://my.jp/,わたし");
    EXPECT_EQ(other.values, expected.values);
    EXPECT_EQ(again.ReadValue("Form3.Pos"), "-5\t0\t643\t528");
    EXPECT_EQ(again.ReadValue("MySiteSelect"), S("日記"));
    EXPECT_EQ(again.ReadValue("form1.POS"), "10\t20\t640\t480");  // keys ignore ASCII letter case
    EXPECT_EQ(again.ReadValue("Missing"), "");
    // Written again and read a third time, the values stay as they are.
    ASSERT_TRUE(again.WriteSettings());
    TMWIniFile third(path);
    Controls thirdControls;
    thirdControls.Register(third);
    ASSERT_TRUE(third.ReadSettings());
    EXPECT_EQ(thirdControls.values, expected.values);
}

TEST(IniFile, NamedValuesSingleAndMultiLine) {
    TempDir dir;
    const std::string path = dir.file("s.ini");
    {
        TMWIniFile ini(path);
        ini.WriteValue("Note", "\r\n\r\nline1\r\n\r\nline2\r\n\r\n");
        ini.WriteValue("Bare", "a\nb");  // a lone LF also makes it multi-line
        ini.WriteValue("Plain", "v");
        ini.WriteValue("Plain", "w");    // moves and replaces, never duplicates
        ini.WriteValue("Empty", "");
        EXPECT_EQ(ini.ReadValue("Note"), "line1\r\n\r\nline2");
        ASSERT_TRUE(ini.WriteSettings());
    }
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, bytes.find(kKeys) + kKeys.size()), "Plain=w\r\nEmpty=" + kKeys);
    TMWIniFile ini(path);
    ASSERT_TRUE(ini.ReadSettings());
    EXPECT_EQ(ini.ReadValue("note"), "line1\r\n\r\nline2");  // sections too ignore the key's case
    EXPECT_EQ(ini.ReadValue("Bare"), "a\r\nb");
    EXPECT_EQ(ini.ReadValue("PLAIN"), "w");
    EXPECT_EQ(ini.ReadValue("Empty"), "");

    // A single-line value shadows the older section of its key; a multi-line one replaces both.
    ini.WriteValue("Note", "short");
    EXPECT_EQ(ini.ReadValue("Note"), "short");
    ini.WriteValue("NOTE", "x\r\ny");
    EXPECT_EQ(ini.ReadValue("Note"), "x\r\ny");
    ASSERT_TRUE(ini.WriteSettings());
    const std::string again = ReadFileBytes(path);
    EXPECT_EQ(again.find("<!--Note\t_MWTags_\t-->"), std::string::npos);
    EXPECT_NE(again.find("<!--NOTE\t_MWTags_\t-->x\r\ny<!--/NOTE\t_MWTags_\t-->"), std::string::npos);
}

TEST(IniFile, ReadsFilesWrittenByHandAndKeepsUnknownKeysInOrder) {
    struct Case {
        const char* name;
        std::string file;
        std::map<std::string, std::string> values;  // ReadValue results
        std::string width;                          // Panel1.width afterwards ("keep" = unchanged)
    } cases[] = {
        {"a key in another case and a shadowed section",
         "form1.pos=1\t2\t3\t4\r\nK=single" + kKeys + "<!--K\t_MWTags_\t-->multi\r\nline<!--/K\t_MWTags_\t-->" +
             kMulti + Props("Panel1.width", "200") + kComp + "\r\n",
         {{"Form1.Pos", "1\t2\t3\t4"}, {"k", "single"}}, "200"},
        {"no key marker: the key part reads as empty",
         "A=1\r\n<!--M\t_MWTags_\t-->m<!--/M\t_MWTags_\t-->" + kMulti + kComp,
         {{"A", ""}, {"M", "m"}}, "keep"},
        {"no multi-line marker", "A=1" + kKeys + "<!--M\t_MWTags_\t-->m<!--/M\t_MWTags_\t-->" + kComp,
         {{"A", "1"}, {"M", ""}}, "keep"},
        {"no component marker: no property is set", "A=1" + kKeys + kMulti + Props("Panel1.width", "9"),
         {{"A", "1"}}, "keep"},
        {"the key named in text but without a section keeps the property",
         "Note=see Panel1.width" + kKeys + kMulti + kComp, {{"Note", "see Panel1.width"}}, "keep"},
        {"an empty section sets the empty text", "A=1" + kKeys + kMulti + Props("Panel1.width", "") + kComp,
         {{"A", "1"}}, ""},
        {"a value that is not a number is stored text all the same",
         kKeys + kMulti + Props("Panel1.width", "abc") + kComp, {}, "abc"},
        {"an empty file", "", {{"A", ""}}, "keep"},
        {"lone LF line ends", "A=1\nB=2" + kKeys + kMulti + kComp + "\n", {{"A", "1"}, {"B", "2"}}, "keep"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const std::string path = dir.file("s.ini");
        WriteFileBytes(path, c.file);
        std::string width = "keep";
        TMWIniFile ini(path);
        ini.RegisterComponentProp("Panel1.width", [&] { return width; }, [&](const std::string& v) { width = v; });
        ASSERT_TRUE(ini.ReadSettings()) << c.name;
        for (const auto& [key, value] : c.values) EXPECT_EQ(ini.ReadValue(key), value) << c.name << " " << key;
        EXPECT_EQ(width, c.width) << c.name;
    }

    // Keys not written in this run keep their place before the ones that are.
    TempDir dir;
    const std::string path = dir.file("s.ini");
    WriteFileBytes(path, "Zed=1\r\nForm1.Pos=old\r\nAlpha=2\r\nForm1.Pos=older\r\nBeta=3" + kKeys + kMulti + kComp);
    TMWIniFile ini(path);
    ASSERT_TRUE(ini.ReadSettings());
    ini.WriteValue("FORM1.pos", "new");
    ASSERT_TRUE(ini.WriteSettings());
    EXPECT_EQ(ReadFileBytes(path), "Zed=1\r\nAlpha=2\r\nBeta=3\r\nFORM1.pos=new" + kKeys + kMulti + kComp + "\r\n");
}

TEST(IniFile, OnePropertyFailingToSetOrGetDoesNotStopTheOthers) {
    TempDir dir;
    const std::string path = dir.file("s.ini");
    WriteFileBytes(path, kKeys + kMulti + Props("a.width", "1") + Props("b.width", "2") + kComp);
    std::string b;
    TMWIniFile ini(path);
    ini.RegisterComponentProp("a.width", []() -> std::string { throw std::runtime_error("gone"); },
                              [](const std::string&) { throw std::runtime_error("gone"); });
    ini.RegisterComponentProp("b.width", [&] { return b; }, [&](const std::string& v) { b = v; });
    ASSERT_TRUE(ini.ReadSettings());
    EXPECT_EQ(b, "2");
    ASSERT_TRUE(ini.WriteSettings());
    EXPECT_EQ(ReadFileBytes(path), kKeys + kMulti + Props("a.width", "") + "\r\n" + Props("b.width", "2") + kComp + "\r\n");
}

TEST(IniFile, AFileThatCannotBeReadIsNeverWrittenOver) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        bool needsNonRoot;
    } cases[] = {
        {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }, false},
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }, false},
        {"too large",
         [](const std::string& p) {
             WriteFileBytes(p, "A=1" + kKeys);
             std::filesystem::resize_file(p, hanabira::kMaxSettingsFileBytes + 1);
         },
         false},
        {"no read permission",
         [](const std::string& p) {
             WriteFileBytes(p, "A=1" + kKeys);
             ::chmod(p.c_str(), 0200);
         },
         true},
    };
    for (const Case& c : cases) {
        if (c.needsNonRoot && ::geteuid() == 0) continue;  // permission bits do not bind root
        TempDir dir;
        const std::string path = dir.file("s.ini");
        c.make(path);
        struct stat before {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        std::string width = "185";
        TMWIniFile ini(path);
        ini.RegisterComponentProp("Panel1.width", [&] { return width; }, [&](const std::string& v) { width = v; });
        EXPECT_FALSE(ini.ReadSettings()) << c.name;
        EXPECT_TRUE(ini.Blocked()) << c.name;
        EXPECT_FALSE(ini.ErrorText().empty()) << c.name;
        EXPECT_EQ(width, "185") << c.name;
        ini.WriteValue("Form1.Pos", "1\t2\t3\t4");
        EXPECT_FALSE(ini.WriteSettings()) << c.name;
        struct stat after {};
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
        EXPECT_EQ(after.st_size, before.st_size) << c.name;
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << c.name;
        // Only the settings file is there: no temporary file was left beside it.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.name;
    }
}

TEST(IniFile, AWriteThatFailsSaysWhy) {
    TempDir dir;
    TMWIniFile ini(dir.file("missing/s.ini"));
    EXPECT_FALSE(ini.ReadSettings());
    EXPECT_FALSE(ini.Blocked());
    EXPECT_FALSE(ini.WriteSettings());
    EXPECT_FALSE(ini.ErrorText().empty());
}

TEST(IniFile, PositionAndIntegerTextForms) {
    const TFormPos current{1, 2, 3, 4};
    struct Case {
        std::string text;
        TFormPos want;
    } cases[] = {
        {"10\t20\t640\t480", {10, 20, 640, 480}},
        {"-1200\t-5\t800\t600", {-1200, -5, 800, 600}},
        {"10\t20", {10, 20, 3, 4}},
        {"", {1, 2, 3, 4}},
        {"x\t20\t\t480", {1, 20, 3, 480}},
        {"10.5\t2e3\t0x10\t99999999999", {1, 2, 3, 4}},
        {"10\t20\t30\t40\t50", {10, 20, 30, 40}},
        {" 7 \t+8\t--9\t+-1", {7, 8, 3, 4}},
    };
    for (const Case& c : cases) {
        const TFormPos p = hanabira::ParseFormPos(c.text, current);
        EXPECT_EQ((std::vector<int>{p.Left, p.Top, p.Width, p.Height}),
                  (std::vector<int>{c.want.Left, c.want.Top, c.want.Width, c.want.Height}))
            << c.text;
    }
    EXPECT_EQ(hanabira::FormatFormPos({-8, 0, 1024, 768}), "-8\t0\t1024\t768");
    EXPECT_EQ(hanabira::ParseFormPos(hanabira::FormatFormPos({-8, 0, 1024, 768}), current).Width, 1024);

    EXPECT_EQ(hanabira::IntPropertyText(-42), "-42");
    for (const char* text : {"", "abc", "12px", "1e3", " ", "2147483648"})
        EXPECT_EQ(hanabira::ReadIntPropertyText(text), 0) << text;
    EXPECT_EQ(hanabira::ReadIntPropertyText("185"), 185);
    EXPECT_EQ(hanabira::ReadIntPropertyText("-3"), -3);
}

}  // namespace
