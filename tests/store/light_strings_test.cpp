#include "store/light_strings.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <vector>

#include "test_support.h"

using hanabira::TLightStrings;
using testing_support::S;

namespace {

std::vector<std::string> Items(const TLightStrings& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list.Get(i));
    return out;
}

TLightStrings Of(const std::vector<std::string>& items, char sep = '=') {
    TLightStrings list(sep);
    for (const auto& s : items) list.Add(s);
    return list;
}

}  // namespace

TEST(LightStrings, IndexErrorsCarryTheMessage) {
    struct Case {
        const char* what;
        std::function<void(TLightStrings&)> op;
    };
    const std::vector<Case> cases = {
        {"Get(-1)", [](TLightStrings& l) { l.Get(-1); }},
        {"Get(Count)", [](TLightStrings& l) { l.Get(l.Count()); }},
        {"Put(Count)", [](TLightStrings& l) { l.Put(l.Count(), "x"); }},
        {"Put(-1)", [](TLightStrings& l) { l.Put(-1, "x"); }},
        {"Delete(Count)", [](TLightStrings& l) { l.Delete(l.Count()); }},
        {"Delete(-1)", [](TLightStrings& l) { l.Delete(-1); }},
        {"Insert(Count+1)", [](TLightStrings& l) { l.Insert(l.Count() + 1, "x"); }},
        {"Insert(-1)", [](TLightStrings& l) { l.Insert(-1, "x"); }},
    };
    for (const auto& c : cases) {
        for (int size : {0, 2}) {
            TLightStrings list;
            for (int i = 0; i < size; ++i) list.Add("a");
            try {
                c.op(list);
                ADD_FAILURE() << c.what << " with " << size << " items did not throw";
            } catch (const std::out_of_range& e) {
                EXPECT_EQ(e.what(), S("インデックスがリストの範囲を超えています")) << c.what;
            }
            EXPECT_EQ(list.Count(), size) << c.what << ": the list changed";
        }
    }
}

TEST(LightStrings, EditingOperations) {
    TLightStrings list;
    EXPECT_EQ(list.Add("b"), 0);
    EXPECT_EQ(list.Add("d"), 1);
    list.Insert(0, "a");
    list.Insert(2, "c");
    list.Insert(list.Count(), "e");  // insert at the end is an append
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
    list.Put(1, "B");
    list.Delete(0);
    list.Delete(list.Count() - 1);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"B", "c", "d"}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.GetText(), "");
    // Appending many items keeps every one in order.
    for (int i = 0; i < 1000; ++i) list.Add(std::to_string(i));
    EXPECT_EQ(list.Count(), 1000);
    EXPECT_EQ(list.Get(999), "999");
    EXPECT_EQ(list.Get(31), "31");
}

TEST(LightStrings, SetTextSplitsAtEveryKindOfBreak) {
    struct Case {
        std::string text;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases = {
        {"", {""}},  // an empty text is one empty item
        {"\r\n", {""}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},  // a break at the very end adds nothing
        {"a\r\nb", {"a", "b"}},
        {"a\rb", {"a", "b"}},  // lone CR
        {"a\nb\n", {"a", "b"}},
        {"a\r", {"a"}},
        {"a\n\r", {"a", ""}},  // LF then a lone CR: two breaks
        {"\r\r\n", {"", ""}},
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"\r\n\r\na", {"", "", "a"}},
        {S("表示\r\nソース"), {S("表示"), S("ソース")}},
    };
    for (const auto& c : cases) {
        TLightStrings list;
        list.Add("old");
        list.SetText(c.text);
        EXPECT_EQ(Items(list), c.items) << testing::PrintToString(c.text);
    }
}

TEST(LightStrings, GetTextEndsEveryItemWithCrLf) {
    EXPECT_EQ(Of({"a", "", "b"}).GetText(), "a\r\n\r\nb\r\n");
    EXPECT_EQ(Of({""}).GetText(), "\r\n");
    EXPECT_EQ(Of({}).GetText(), "");
}

TEST(LightStrings, ClearIfOnlyEmptyLine) {
    struct Case {
        std::vector<std::string> items;
        int after;
    };
    for (const auto& c : std::vector<Case>{{{""}, 0}, {{"", ""}, 2}, {{"a"}, 1}, {{}, 0}}) {
        TLightStrings list = Of(c.items);
        list.ClearIfOnlyEmptyLine();
        EXPECT_EQ(list.Count(), c.after) << testing::PrintToString(c.items);
    }
}

TEST(LightStrings, FileLinesDropLoneCr) {
    struct Case {
        std::string bytes;
        std::vector<std::string> items;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\nb\nc", {"a", "b", "c"}},
        {"a\rb\r\n", {"ab"}},  // a CR not followed by LF is dropped
        {"\n\n", {"", ""}},
        {"a\r", {"a"}},
        {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    };
    testing_support::TempDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file("lines.txt");
        testing_support::WriteFileBytes(path, c.bytes);
        TLightStrings list;
        list.Add("old");
        ASSERT_TRUE(list.LoadFromFile(path));
        EXPECT_EQ(Items(list), c.items) << testing::PrintToString(c.bytes);
        // The shortcut that skips the list gives the same text.
        EXPECT_EQ(hanabira::FileLinesText(c.bytes), list.GetText()) << testing::PrintToString(c.bytes);
    }
    TLightStrings list;
    list.Add("old");
    EXPECT_FALSE(list.LoadFromFile(dir.file("missing.txt")));
    EXPECT_EQ(list.Count(), 0);
}

TEST(LightStrings, Streams) {
    TLightStrings list;
    list.Add("old");
    list.LoadFromStream("xxa\r\nb", 2);
    EXPECT_EQ(Items(list), (std::vector<std::string>{"a", "b"}));
    // Nothing left in the stream: an empty list, not one empty item.
    list.LoadFromStream("abc", 3);
    EXPECT_EQ(list.Count(), 0);
    list.LoadFromStream("", 0);
    EXPECT_EQ(list.Count(), 0);

    std::string stream = "head";
    Of({"a", "b"}).SaveToStream(stream);
    EXPECT_EQ(stream, "heada\r\nb\r\n");
}

TEST(LightStrings, IndexOfIsByteExact) {
    const TLightStrings list = Of({"abc", "ABC", S("表"), "abc"});
    EXPECT_EQ(list.IndexOf("abc"), 0);
    EXPECT_EQ(list.IndexOf("ABC"), 1);
    EXPECT_EQ(list.IndexOf(S("表")), 2);
    EXPECT_EQ(list.IndexOf("ab"), -1);
    EXPECT_EQ(list.IndexOf(""), -1);
}

TEST(LightStrings, IndexOfNameIgnoresAsciiCaseOnly) {
    const TLightStrings list = Of({"plain", "Key=1", "key=2", S("ヂ") + "=3", "a=b=c", "=empty", "URL"});
    struct Case {
        std::string name;
        int index;
    };
    const std::vector<Case> cases = {
        {"key", 1},   {"KEY", 1},  {S("ヂ"), 3},
        {S("ア"), -1},  // 0x83 0x41: its second byte is not a letter to lower-case
        {"a", 4},     {"a=b", -1}, {"", 5},
        {"plain", -1},  // no separator
        {"url", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(list.IndexOfName(c.name), c.index) << c.name;

    const TLightStrings tabs = Of({"name\tvalue", "x=1"}, '\t');
    EXPECT_EQ(tabs.IndexOfName("NAME"), 0);
    EXPECT_EQ(tabs.IndexOfName("x"), -1);
    EXPECT_EQ(tabs.Values("name"), "value");
}

TEST(LightStrings, Values) {
    TLightStrings list = Of({"Key=1", "a=b=c", "empty="});
    EXPECT_EQ(list.Values("KEY"), "1");
    EXPECT_EQ(list.Values("a"), "b=c");
    EXPECT_EQ(list.Values("empty"), "");
    EXPECT_EQ(list.Values("none"), "");

    list.SetValues("key", "x\r\ny\nz\r");  // replaced in place, CR LF pairs removed, lone breaks kept
    list.SetValues("new", "v");
    EXPECT_EQ(Items(list), (std::vector<std::string>{"key=xy\nz\r", "a=b=c", "empty=", "new=v"}));
}

TEST(LightStrings, SortIsByteWise) {
    TLightStrings list = Of({"b", S("表"), "ab", "a", "B", "", "a", "~", S("あ")});
    list.Sort();
    // Double-byte text (lead bytes 0x82, 0x95) sorts after all ASCII.
    EXPECT_EQ(Items(list), (std::vector<std::string>{"", "B", "a", "a", "ab", "b", "~", S("あ"), S("表")}));
}
