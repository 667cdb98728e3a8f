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
std::string ExtractTagSection(std::string_view text, std::string_view name);
std::string LowerSjis(std::string_view text);  // the lower-casing that searches use

// Byte offset of the first match of sub that starts on a character boundary, or npos.
size_t FindOnBoundary(std::string_view sub, std::string_view text);
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
