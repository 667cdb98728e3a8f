#include "store/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

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

// Stand-ins for registered control properties, as plain values.
using Values = std::map<std::string, std::string>;
void Register(TMWIniFile& ini, Values& values, std::vector<std::string> keys) {
    for (const std::string& key : keys)
        ini.RegisterComponentProp(key, [&values, key] { return values[key]; },
                                  [&values, key](const std::string& v) { values[key] = v; });
}
const std::vector<std::string> kFive = {"ftBlogCategories.width", "Panel1.width", "edComment.lines",
                                        "lvSiteList.height", "edRegistMySite.lines"};

TEST(IniFile, FirstWriteOfAFreshStoreByteForByteAndBack) {
    TempDir dir;
    const std::string path = dir.file("hanabira2.ini");
    Values values = {{"ftBlogCategories.width", "150"}, {"Panel1.width", "185"},
                     {"edComment.lines", S("{$Manager}さん\r\n\r\n{$MyName}\r\n")}, {"lvSiteList.height", "137"},
                     {"edRegistMySite.lines", S("日記,http://my.jp/,わたし\r\n")}};
    TMWIniFile ini(path);
    Register(ini, values, kFive);
    EXPECT_FALSE(ini.ReadSettings());
    EXPECT_FALSE(ini.Blocked());
    ini.WriteValue("Form1.Pos", "10\t20\t640\t480");
    ini.WriteValue("Form3.Pos", "-5\t0\t643\t528");
    ini.WriteValue("BlogDataFileName", "RssSites.dat");
    ini.WriteValue("MySiteSelect", S("日記"));
    ASSERT_TRUE(ini.WriteSettings());
    EXPECT_EQ(ReadFileBytes(path),
              "Form1.Pos=10\t20\t640\t480\r\nForm3.Pos=-5\t0\t643\t528\r\nBlogDataFileName=RssSites.dat\r\nMySiteSelect=" +
                  S("日記") + kKeys + kMulti + Props("ftBlogCategories.width", "150") + "\r\n" +
                  Props("Panel1.width", "185") + "\r\n" + Props("edComment.lines", S("{$Manager}さん\r\n\r\n{$MyName}\r\n")) +
                  "\r\n" + Props("lvSiteList.height", "137") + "\r\n" +
                  Props("edRegistMySite.lines", S("日記,http://my.jp/,わたし\r\n")) + kComp + "\r\n");

    Values read;
    TMWIniFile again(path);
    Register(again, read, kFive);
    ASSERT_TRUE(again.ReadSettings());
    // Section content loses its line breaks at both ends.
    values["edComment.lines"] = S("{$Manager}さん\r\n\r\n{$MyName}");
    values["edRegistMySite.lines"] = S("日記,http://my.jp/,わたし");
    EXPECT_EQ(read, values);
    EXPECT_EQ(again.ReadValue("form1.POS"), "10\t20\t640\t480");  // keys ignore ASCII letter case
    EXPECT_EQ(again.ReadValue("MySiteSelect"), S("日記"));
    EXPECT_EQ(again.ReadValue("Missing"), "");
}

TEST(IniFile, MultiLineValuesAndKeyOrder) {
    TempDir dir;
    const std::string path = dir.file("s.ini");
    WriteFileBytes(path, "Zed=1\r\nForm1.Pos=old\r\nAlpha=2\r\nform1.pos=older\r\nK=single" + kKeys +
                             "<!--K\t_MWTags_\t-->shadowed\r\nsection<!--/K\t_MWTags_\t-->" + kMulti + kComp);
    TMWIniFile ini(path);
    ASSERT_TRUE(ini.ReadSettings());
    EXPECT_EQ(ini.ReadValue("k"), "single");  // the single-line value comes first
    ini.WriteValue("Note", "\r\n\r\nline1\r\n\r\nline2\r\n\r\n");
    ini.WriteValue("Bare", "a\nb");           // a bare LF makes it multi-line too
    ini.WriteValue("FORM1.pos", "new");       // moves to the end, no older item left behind
    ini.WriteValue("k", "x\r\ny");            // replaces the item and the section of any case
    ASSERT_TRUE(ini.WriteSettings());
    const std::string bytes = ReadFileBytes(path);
    EXPECT_EQ(bytes.substr(0, bytes.find(kKeys)), "Zed=1\r\nAlpha=2\r\nFORM1.pos=new");
    EXPECT_EQ(bytes.find("shadowed"), std::string::npos);

    TMWIniFile back(path);
    ASSERT_TRUE(back.ReadSettings());
    EXPECT_EQ(back.ReadValue("note"), "line1\r\n\r\nline2");
    EXPECT_EQ(back.ReadValue("Bare"), "a\r\nb");
    EXPECT_EQ(back.ReadValue("K"), "x\r\ny");
    EXPECT_EQ(back.ReadValue("Form1.Pos"), "new");
}

TEST(IniFile, PartsAndPropertiesOfHandWrittenFiles) {
    struct Case {
        const char* name;
        std::string file;
        Values values;      // ReadValue results
        std::string width;  // Panel1.width afterwards ("keep" = not set)
    } cases[] = {
        {"no key marker: the key part reads as empty",
         "A=1\r\n<!--M\t_MWTags_\t-->m<!--/M\t_MWTags_\t-->" + kMulti + Props("Panel1.width", "9") + kComp,
         {{"A", ""}, {"M", "m"}}, "9"},
        {"no multi-line marker", "A=1" + kKeys + "<!--M\t_MWTags_\t-->m<!--/M\t_MWTags_\t-->" + kComp,
         {{"A", "1"}, {"M", ""}}, "keep"},
        {"no component marker: no property is set", "A=1" + kKeys + kMulti + Props("Panel1.width", "9"), {{"A", "1"}},
         "keep"},
        {"a key named in text without its section sets nothing", "N=Panel1.width" + kKeys + kMulti + kComp,
         {{"N", "Panel1.width"}}, "keep"},
        {"an empty section sets the empty text", kKeys + kMulti + Props("Panel1.width", "") + kComp, {}, ""},
        {"lone LF line ends", "A=1\nB=2" + kKeys + kMulti + kComp + "\n", {{"A", "1"}, {"B", "2"}}, "keep"},
        {"an empty file", "", {{"A", ""}}, "keep"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFileBytes(dir.file("s.ini"), c.file);
        Values values = {{"Panel1.width", "keep"}};
        TMWIniFile ini(dir.file("s.ini"));
        Register(ini, values, {"Panel1.width"});
        ASSERT_TRUE(ini.ReadSettings()) << c.name;
        for (const auto& [key, value] : c.values) EXPECT_EQ(ini.ReadValue(key), value) << c.name << " " << key;
        EXPECT_EQ(values["Panel1.width"], c.width) << c.name;
    }

    // A property that cannot be set or read does not stop the others.
    TempDir dir;
    const std::string path = dir.file("s.ini");
    WriteFileBytes(path, kKeys + kMulti + Props("a.width", "1") + Props("b.width", "2") + kComp);
    Values values;
    TMWIniFile ini(path);
    ini.RegisterComponentProp("a.width", []() -> std::string { throw std::runtime_error("gone"); },
                              [](const std::string&) { throw std::runtime_error("gone"); });
    Register(ini, values, {"b.width"});
    ASSERT_TRUE(ini.ReadSettings());
    EXPECT_EQ(values["b.width"], "2");
    ASSERT_TRUE(ini.WriteSettings());
    EXPECT_EQ(ReadFileBytes(path), kKeys + kMulti + Props("a.width", "") + "\r\n" + Props("b.width", "2") + kComp + "\r\n");
}

TEST(IniFile, AFileThatCannotBeReadIsNeverWrittenOver) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
    } cases[] = {
        {"directory", [](const std::string& p) { std::filesystem::create_directory(p); }},
        {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"too large",
         [](const std::string& p) {
             WriteFileBytes(p, "A=1" + kKeys);
             std::filesystem::resize_file(p, hanabira::kMaxSettingsFileBytes + 1);
         }},
        {"no read permission",
         [](const std::string& p) {
             WriteFileBytes(p, "A=1" + kKeys);
             ::chmod(p.c_str(), 0200);
         }},
    };
    for (const Case& c : cases) {
        if (std::string(c.name) == "no read permission" && ::geteuid() == 0) continue;  // root reads anyway
        TempDir dir;
        const std::string path = dir.file("s.ini");
        c.make(path);
        struct stat before {}, after {};
        ASSERT_EQ(::stat(path.c_str(), &before), 0);
        Values values = {{"Panel1.width", "185"}};
        TMWIniFile ini(path);
        Register(ini, values, {"Panel1.width"});
        EXPECT_FALSE(ini.ReadSettings()) << c.name;
        EXPECT_TRUE(ini.Blocked()) << c.name;
        EXPECT_FALSE(ini.ErrorText().empty()) << c.name;
        ini.WriteValue("Form1.Pos", "1\t2\t3\t4");
        EXPECT_FALSE(ini.WriteSettings()) << c.name;
        ASSERT_EQ(::stat(path.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
        EXPECT_EQ(after.st_size, before.st_size) << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << c.name;
    }
}

TEST(IniFile, PositionAndIntegerTextForms) {
    struct Case {
        std::string text;
        std::vector<int> want;
    } cases[] = {
        {"-1200\t-5\t800\t600", {-1200, -5, 800, 600}},
        {"x\t20\t\t480\t50", {1, 20, 3, 480}},  // missing or bad items keep the current ones
        {"10.5\t2e3\t0x10\t99999999999", {1, 2, 3, 4}},
        {" 7 \t+8\t--9\t+-1", {7, 8, 3, 4}},
    };
    for (const Case& c : cases) {
        const hanabira::TFormPos p = hanabira::ParseFormPos(c.text, {1, 2, 3, 4});
        EXPECT_EQ((std::vector<int>{p.Left, p.Top, p.Width, p.Height}), c.want) << c.text;
    }
    EXPECT_EQ(hanabira::FormatFormPos({-8, 0, 1024, 768}), "-8\t0\t1024\t768");
    for (const char* text : {"", "abc", "12px", "2147483648"}) EXPECT_EQ(hanabira::ReadIntPropertyText(text), 0) << text;
    EXPECT_EQ(hanabira::ReadIntPropertyText("-3"), -3);
}

}  // namespace
