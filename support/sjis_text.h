#pragma once
// Shift_JIS (code page 932) aware text primitives. Positions and lengths count characters, 1-based;
// nothing ever matches inside a double-byte character.
#include <string>
#include <string_view>

namespace hanabira {

bool IsLeadByte(unsigned char b);
int CharPos(std::string_view sub, std::string_view text);  // 1-based character position, 0 = none
int CharLength(std::string_view text);
std::string CharCopy(std::string_view text, int pos, int count);
void CharDelete(std::string& text, int pos, int count);
std::string CutToken(std::string& text, std::string_view delimiters);
// CutToken on a view: the token and the rest both point into the viewed text, nothing is copied.
std::string_view CutTokenView(std::string_view& text, std::string_view delimiters);
std::string CutThrough(std::string& text, std::string_view marker);
std::string TakeLine(std::string& text);
std::string TakeElement(std::string& text, std::string_view startTag, std::string_view endTag);
std::string TrimSpaces(std::string_view text);
std::string TrimLineBreaks(std::string_view text);
std::string WrapTagSection(std::string_view name, std::string_view content);
// The two tags of a section, for writers that build a large section in place.
std::string TagSectionOpen(std::string_view name);   // "<!--" name "-->"
std::string TagSectionClose(std::string_view name);  // "<!--/" name "-->"
// The content of the first section of that name, trimmed of CR LF pairs at both ends: the copy
// that FindTagSection's default rules give.
std::string ExtractTagSection(std::string_view text, std::string_view name);
std::string LowerSjis(std::string_view text);  // the lower-casing that searches use

// Byte offset of the first match of sub that starts on a character boundary, or npos.
size_t FindOnBoundary(std::string_view sub, std::string_view text);
// As above, with single-byte ASCII letters compared without case (the bytes of a double-byte
// character always exactly).
size_t FindOnBoundaryNoCase(std::string_view sub, std::string_view text);

// The one reader of tag sections ("<!--" name "-->" content "<!--/" name "-->"). The files that use
// them differ in how a section is looked up; these are the choices.
struct TagSectionRules {
    // Tags match with ASCII letters in either case (named values, whose keys ignore case).
    bool ignoreCase = false;
    // The closing tag is searched after the opening tag. Otherwise it is searched from the start
    // of the text, and a closing tag that comes first means there is no section.
    bool closeAfterOpen = false;
};

// Where a section lies in a text, as byte offsets; a tag that was not found is npos. With the
// default rules both tags are searched from the start, so a text cut off after an opening tag
// shows as open without close.
struct TagSectionSpan {
    size_t open = std::string_view::npos, close = std::string_view::npos;
    size_t openSize = 0, closeSize = 0;
    bool Found() const {
        return open != std::string_view::npos && close != std::string_view::npos && close >= open + openSize;
    }
    size_t End() const { return close + closeSize; }  // one past the closing tag (when Found)
    // The content as a view into text, CR LF pairs trimmed at both ends; empty when not Found.
    std::string_view Content(std::string_view text) const;
};
TagSectionSpan FindTagSection(std::string_view text, std::string_view name, TagSectionRules rules = {});
// FindTagSection's content as a view: no copy of a section that may be most of a large file.
std::string_view TagSectionView(std::string_view text, std::string_view name, TagSectionRules rules = {});
// TrimLineBreaks as a view into text.
std::string_view TrimLineBreaksView(std::string_view text);

// Replaces every occurrence of from (ASCII letters compared without case) by to, on boundaries.
std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to);
// Splits text into lines at CR LF, lone CR or lone LF; a break at the very end adds no line.
// Each line is passed to the callback without its break.
template <class F>
void ForEachLine(std::string_view text, F&& f) {
    size_t start = 0;
    const size_t n = text.size();
    while (start < n) {
        size_t i = start;
        while (i < n && text[i] != '\r' && text[i] != '\n') ++i;
        f(text.substr(start, i - start));
        if (i < n && text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
}
// Every line of text followed by CR LF; the text ends at its first NUL byte.
std::string NormalizeLineBreaks(std::string_view text);

}  // namespace hanabira
