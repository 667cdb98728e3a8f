#include "support/sjis_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

using hanabira::CharCopy;
using hanabira::CharDelete;
using hanabira::CharLength;
using hanabira::CharPos;
using hanabira::CutThrough;
using hanabira::CutToken;
using testing_support::S;

// Double-byte characters whose second byte looks like an ASCII delimiter or letter: the cases where a
// byte-wise search goes wrong.
const std::string kSo = S("ソ");      // 0x83 0x5C: backslash
const std::string kHyo = S("表");     // 0x95 0x5C: backslash
const std::string kPo = S("ポ");      // 0x83 0x7C: vertical bar
const std::string kSmallA = S("ァ");  // 0x83 0x40: like the second half of a full-width space
const std::string kA = S("ア");       // 0x83 0x41: 'A'
const std::string kZu = S("ズ");      // 0x83 0x59: 'Y'
const std::string kMe = S("メ");      // 0x83 0x81: a lead-byte value as second byte
const std::string kFullSpace = S("　");

TEST(SjisFixtures, SecondBytesAreTheTrickyOnes) {
    EXPECT_EQ(kSo.substr(1), "\\");
    EXPECT_EQ(kHyo.substr(1), "\\");
    EXPECT_EQ(kPo.substr(1), "|");
    EXPECT_EQ(kSmallA.substr(1), "@");
    EXPECT_EQ(kA.substr(1), "A");
    EXPECT_EQ(kMe[1], kFullSpace[0]);
    EXPECT_EQ(kFullSpace, "\x81@");
}

TEST(SjisText, CharPosMatchesOnlyAtCharacterStarts) {
    struct Case {
        std::string sub, text;
        int pos;
    } cases[] = {
        {"\\", kSo, 0},        {"\\", kSo + kHyo, 0},      {"\\", kSo + "\\", 2}, {"|", kPo, 0},
        {"|", kPo + "a|", 3},  {"@", kSmallA, 0},          {"A", kA, 0},          {"\\", kMe + "\\", 2},
        {kHyo, kSo + kHyo, 2}, {"ab", "xxab", 3},          {"ab", "ab", 1},       {"abc", "ab", 0},
        {"a", "", 0},          {"b", kSo + kHyo + "b", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CharPos(c.sub, c.text), c.pos);
    }
}

TEST(SjisText, CharLengthCountsCharacters) {
    EXPECT_EQ(CharLength(""), 0);
    EXPECT_EQ(CharLength("abc"), 3);
    EXPECT_EQ(CharLength(kSo + "a" + kMe), 3);
    // A lead byte cut off at the very end is one character of its own.
    EXPECT_EQ(CharLength("a" + kSo.substr(0, 1)), 2);
}

TEST(SjisText, CharCopyAndCharDeleteCountCharacters) {
    const std::string text = "a" + kSo + "b" + kHyo;
    struct Case {
        int pos, count;
        std::string copied, afterDelete;
    } cases[] = {
        {2, 1, kSo, "ab" + kHyo},
        {2, 2, kSo + "b", "a" + kHyo},
        {4, 1, kHyo, "a" + kSo + "b"},
        {3, 100, "b" + kHyo, "a" + kSo},
        {1, 0, "", text},
        {1, -1, "", text},
        {0, 1, "a", kSo + "b" + kHyo},
        {-3, 2, "a" + kSo, "b" + kHyo},
        {5, 1, "", text},
        {50, 3, "", text},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.pos) + "," + std::to_string(c.count));
        EXPECT_EQ(CharCopy(text, c.pos, c.count), c.copied);
        std::string t = text;
        CharDelete(t, c.pos, c.count);
        EXPECT_EQ(t, c.afterDelete);
    }
}

TEST(SjisText, CutTokenSplitsAtTheFirstDelimiterCharacter) {
    struct Case {
        std::string text, delimiters, token, rest;
    } cases[] = {
        {"a,b", ",;", "a", "b"},
        {"a;b,c", ",;", "a", "b,c"},
        {"abc", ",", "abc", ""},
        {"", ",", "", ""},
        {"a,b", "", "a,b", ""},
        {",a", ",", "", "a"},
        {"a,", ",", "a", ""},
        {kSo + "x\\y", "\\", kSo + "x", "y"},
        {kPo + "|" + kPo, "|", kPo, kPo},
        {kSo + kHyo, "\\", kSo + kHyo, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(CutToken(text, c.delimiters), c.token);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SjisText, CutThroughTakesTheTextBeforeTheMarker) {
    struct Case {
        std::string text, marker, before, rest;
    } cases[] = {
        {"head<body>rest", "<body", "head", ">rest"},
        {"<body>rest", "<body", "", ">rest"},
        {"no marker", "<body", "", "no marker"},
        {"", "<body", "", ""},
        {"a--b--c", "--", "a", "b--c"},
        {"abc--", "--", "abc", ""},
        {kSo + "x", "\\", "", kSo + "x"},
        {kSo + "\\x", "\\", kSo, "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(CutThrough(text, c.marker), c.before);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SjisText, TakeLineTakesOneLineAndItsBreak) {
    struct Case {
        std::string text, line, rest;
    } cases[] = {
        {"a\r\nb\r\n", "a", "b\r\n"},
        {"a\r\n\r\nb", "a", "\r\nb"},
        {"\r\nb", "", "b"},
        {"abc", "abc", ""},
        {"a\nb", "a\nb", ""},  // without a CR the whole text is one line
        {"a\r", "a", ""},
        {"", "", ""},
        // A lone CR ends its line without taking the following lines with it.
        {"a\rb\rc", "a", "b\rc"},
        {"a\rb\r\nc", "a", "b\r\nc"},
        {kSo + "\r\n" + kHyo, kSo, kHyo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string text = c.text;
        EXPECT_EQ(hanabira::TakeLine(text), c.line);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SjisText, TakeLineWalksEveryLineOfCrOnlyText) {
    std::string text = "one\rtwo\rthree";
    std::vector<std::string> lines;
    while (!text.empty()) lines.push_back(hanabira::TakeLine(text));
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "two", "three"}));
}

TEST(SjisText, TakeElementCutsTheFirstElement) {
    struct Case {
        std::string name, text, start, end, content, rest;
    } cases[] = {
        {"plain", "x<p>v</p>y", "<p>", "</p>", "v", "xy"},
        {"line breaks trimmed", "<p>\r\n\r\nv\r\n</p>", "<p>", "</p>", "v", ""},
        {"empty element", "a<p></p>b", "<p>", "</p>", "", "ab"},
        {"first of two", "<p>1</p><p>2</p>", "<p>", "</p>", "1", "<p>2</p>"},
        {"end before start", "</pubdate>x<pubdate>y", "<pubdate>", "</pubdate>", "", "</pubdate>x<pubdate>y"},
        {"end before start, later pair", "</p><p>v</p>", "<p>", "</p>", "", "</p><p>v</p>"},
        {"no start", "v</p>", "<p>", "</p>", "", "v</p>"},
        {"no end", "<p>v", "<p>", "</p>", "", "<p>v"},
        {"empty start marker", "<p>v</p>", "", "</p>", "", "<p>v</p>"},
        {"empty end marker", "<p>v</p>", "<p>", "", "", "<p>v</p>"},
        {"end marker not inside characters", "<d>" + kPo + kSo + "|x", "<d>", "|", kPo + kSo, "x"},
        {"marker only inside characters", kPo + "<" + kPo + ">", "|", ">", "", kPo + "<" + kPo + ">"},
        {"japanese", "<d>" + kSo + kHyo + "</d>", "<d>", "</d>", kSo + kHyo, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = c.text;
        EXPECT_EQ(hanabira::TakeElement(text, c.start, c.end), c.content);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SjisText, TakeElementCalledRepeatedlyWalksAFeed) {
    std::string feed = "<item><d>1</d></item><item><d>2</d></item><item><d>3</d></item>";
    std::vector<std::string> dates;
    for (std::string d; !(d = hanabira::TakeElement(feed, "<d>", "</d>")).empty();) dates.push_back(d);
    EXPECT_EQ(dates, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(feed, "<item></item><item></item><item></item>");
}

TEST(SjisText, TrimSpacesRemovesHalfAndFullWidthSpaces) {
    const std::string sp = kFullSpace;
    struct Case {
        std::string text, trimmed;
    } cases[] = {
        {"  a  ", "a"},
        {sp + "a" + sp, "a"},
        {" " + sp + " a b" + sp + " " + sp, "a b"},
        {"a" + sp + "b", "a" + sp + "b"},
        {"", ""},
        {"   ", ""},
        {sp + " " + sp, ""},
        {"\ta\r\n", "\ta\r\n"},
        // Second byte 0x40 of a character that is not a space.
        {kSmallA, kSmallA},
        {" " + kSmallA + " ", kSmallA},
        {"a" + kSmallA, "a" + kSmallA},
        {kSmallA + sp, kSmallA},
        // 0x81 as a second byte followed by '@' is not a full-width space either.
        {kMe + "@", kMe + "@"},
        {kMe + "@" + sp, kMe + "@"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hanabira::TrimSpaces(c.text), c.trimmed);
    }
}

TEST(SjisText, TrimLineBreaksRemovesOnlyWholePairsAtTheEnds) {
    struct Case {
        std::string text, trimmed;
    } cases[] = {
        {"\r\n\r\na\r\n\r\n", "a"}, {"\r\n", ""},           {"\r\n\r\n\r\n", ""},   {"", ""},
        {"a\r\nb", "a\r\nb"},       {"\ra\n", "\ra\n"},     {"\n\r\na", "\n\r\na"}, {"a\r\n\r", "a\r\n\r"},
        {"a\n\r\n", "a\n"},         {"\r\n a \r\n", " a "}, {"\r\n\r", "\r"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(hanabira::TrimLineBreaks(c.text), c.trimmed);
    }
}

TEST(SjisText, TagSectionsWrapAndExtract) {
    const std::string name = "\tBlogList\t";
    EXPECT_EQ(hanabira::WrapTagSection(name, "x"), "<!--\tBlogList\t-->x<!--/\tBlogList\t-->");
    struct Case {
        std::string name, text, content;
    } cases[] = {
        {"plain", hanabira::WrapTagSection(name, "a\r\nb"), "a\r\nb"},
        {"breaks trimmed", hanabira::WrapTagSection(name, "\r\n\r\na\r\n\r\n"), "a"},
        {"surrounded",
         "pre" + hanabira::WrapTagSection("\tTree\t", "t") + hanabira::WrapTagSection(name, "s") + "post",
         "s"},
        {"empty", hanabira::WrapTagSection(name, ""), ""},
        {"first section wins", hanabira::WrapTagSection(name, "1") + hanabira::WrapTagSection(name, "2"),
         "1"},
        {"close before open", "<!--/\tBlogList\t-->x<!--\tBlogList\t-->y", ""},
        {"close before open twice", "<!--/\tBlogList\t--><!--\tBlogList\t-->y<!--/\tBlogList\t-->", ""},
        {"no close", "<!--\tBlogList\t-->x", ""},
        {"no open", "x<!--/\tBlogList\t-->", ""},
        {"other name", hanabira::WrapTagSection("\tTree\t", "t"), ""},
        {"japanese content", hanabira::WrapTagSection(name, kSo + kHyo + kPo), kSo + kHyo + kPo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hanabira::ExtractTagSection(c.text, name), c.content);
    }
    const std::string jname = "\t" + kHyo + "\t";
    EXPECT_EQ(hanabira::ExtractTagSection(hanabira::WrapTagSection(jname, "v"), jname), "v");
}

TEST(SjisText, TagSectionRulesChooseLetterCaseAndWhereTheCloseIsSought) {
    using hanabira::TagSectionRules;
    const TagSectionRules exact{}, noCase{.ignoreCase = true}, after{.closeAfterOpen = true},
        both{.ignoreCase = true, .closeAfterOpen = true};
    const std::string name = "Key" + kA;  // a second byte that reads as 'A'
    const std::string lowA = kA.substr(0, 1) + "a";
    struct Case {
        const char* what;
        std::string text;
        std::string exact, noCase, after, both;  // the content under each rule set
    } cases[] = {
        {"same case", "<!--Key" + kA + "-->v<!--/Key" + kA + "-->", "v", "v", "v", "v"},
        {"other case", "<!--KEY" + kA + "-->v<!--/key" + kA + "-->", "", "v", "", "v"},
        {"a second byte is never case-folded", "<!--Key" + lowA + "-->v<!--/Key" + lowA + "-->", "", "", "", ""},
        {"a stray close before the section", "<!--/Key" + kA + "-->x<!--Key" + kA + "-->v<!--/Key" + kA + "-->", "",
         "", "v", "v"},
        {"breaks trimmed", "<!--Key" + kA + "-->\r\n\r\nv\r\n<!--/Key" + kA + "-->\r\n", "v", "v", "v", "v"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(hanabira::TagSectionView(c.text, name, exact), c.exact);
        EXPECT_EQ(hanabira::TagSectionView(c.text, name, noCase), c.noCase);
        EXPECT_EQ(hanabira::TagSectionView(c.text, name, after), c.after);
        EXPECT_EQ(hanabira::TagSectionView(c.text, name, both), c.both);
        EXPECT_EQ(hanabira::ExtractTagSection(c.text, name), c.exact);
    }

    // The span tells a section cut off after its opening tag from one that is not there, and
    // locates the whole section for removal.
    const std::string cut = "x<!--Key-->abc";
    EXPECT_EQ(hanabira::FindTagSection(cut, "Key").open, 1u);
    EXPECT_EQ(hanabira::FindTagSection(cut, "Key").close, std::string::npos);
    EXPECT_EQ(hanabira::FindTagSection("<!--/Key-->", "Key").close, 0u);
    EXPECT_EQ(hanabira::FindTagSection("<!--/Key-->", "Key", after).close, std::string::npos);
    std::string text = "a<!--k-->v<!--/K-->b<!--K-->w<!--/k-->c";
    for (hanabira::TagSectionSpan s; (s = hanabira::FindTagSection(text, "K", both)).Found();)
        text.erase(s.open, s.End() - s.open);
    EXPECT_EQ(text, "abc");
}

TEST(SjisText, LowerSjisLowersSingleByteLettersOnly) {
    struct Case {
        std::string text, lowered;
    } cases[] = {
        {"ABC xyz <A HREF>", "abc xyz <a href>"},
        {kA + kZu, kA + kZu},
        {S("Ａ"), S("Ａ")},
        {"Q" + kA + "W", "q" + kA + "w"},
        {"\xB1\xB2", "\xB1\xB2"},  // half-width katakana are single bytes but not letters
        {"A" + kSo.substr(0, 1), "a" + kSo.substr(0, 1)},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(hanabira::LowerSjis(c.text), c.lowered);
    }
}

TEST(SjisText, ReplaceAllNoCaseReplacesOnBoundaries) {
    EXPECT_EQ(hanabira::ReplaceAllNoCase("a&LT;b&lt;", "&lt;", "<"), "a<b<");
    EXPECT_EQ(hanabira::ReplaceAllNoCase(kA + "a", "a", "x"), kA + "x");
    EXPECT_EQ(hanabira::ReplaceAllNoCase(kSo + "\\", "\\", "/"), kSo + "/");
    EXPECT_EQ(hanabira::ReplaceAllNoCase("aaa", "aa", "b"), "ba");
    EXPECT_EQ(hanabira::ReplaceAllNoCase("abc", "", "x"), "abc");
}

TEST(SjisText, NormalizeLineBreaksEndsEveryLineWithCrLf) {
    struct Case {
        std::string text, normalized;
    } cases[] = {
        {"a\rb\nc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"a\r\n", "a\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {"\n\r", "\r\n\r\n"},
        {"", ""},
        {std::string("a\r\nb\0c", 6), "a\r\nb\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(hanabira::NormalizeLineBreaks(c.text), c.normalized);
    }
}

}  // namespace
