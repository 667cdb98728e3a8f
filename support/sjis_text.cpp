#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Byte length of the character that starts at offset i (a lead byte at the very end is one byte).
size_t CharBytes(std::string_view text, size_t i) {
    return (IsLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
}

// Byte offset of the character at 1-based position pos (text.size() when past the end).
size_t OffsetOfChar(std::string_view text, int pos) {
    size_t i = 0;
    for (int p = 1; p < pos && i < text.size(); ++p) i += CharBytes(text, i);
    return i;
}

bool StartsWithSpace(std::string_view t, size_t i, size_t* len) {
    if (i < t.size() && t[i] == ' ') {
        *len = 1;
        return true;
    }
    if (i + 1 < t.size() && static_cast<unsigned char>(t[i]) == 0x81 && t[i + 1] == 0x40) {
        *len = 2;
        return true;
    }
    return false;
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

size_t FindOnBoundary(std::string_view sub, std::string_view text) {
    if (sub.empty() || text.size() < sub.size()) return std::string_view::npos;
    const size_t last = text.size() - sub.size();
    for (size_t i = 0; i <= last; i += CharBytes(text, i)) {
        if (text.compare(i, sub.size(), sub) == 0) return i;
    }
    return std::string_view::npos;
}

size_t FindOnBoundaryNoCase(std::string_view sub, std::string_view text) {
    if (sub.empty() || text.size() < sub.size()) return std::string_view::npos;
    const size_t last = text.size() - sub.size();
    for (size_t i = 0; i <= last; i += CharBytes(text, i)) {
        // Walked character by character through the text: while the bytes agree, the characters
        // of text and sub start at the same places, so only single-byte characters are lowered.
        size_t k = 0;
        while (k < sub.size()) {
            if (CharBytes(text, i + k) == 2) {
                if (text[i + k] != sub[k] || (k + 1 < sub.size() && text[i + k + 1] != sub[k + 1])) break;
                k += 2;
            } else {
                if (LowerAscii(text[i + k]) != LowerAscii(sub[k])) break;
                ++k;
            }
        }
        if (k >= sub.size()) return i;
    }
    return std::string_view::npos;
}

int CharPos(std::string_view sub, std::string_view text) {
    const size_t off = FindOnBoundary(sub, text);
    if (off == std::string_view::npos) return 0;
    return CharLength(text.substr(0, off)) + 1;
}

int CharLength(std::string_view text) {
    int n = 0;
    for (size_t i = 0; i < text.size(); i += CharBytes(text, i)) ++n;
    return n;
}

std::string CharCopy(std::string_view text, int pos, int count) {
    if (count <= 0) return {};
    if (pos < 1) pos = 1;
    const size_t from = OffsetOfChar(text, pos);
    size_t to = from;
    for (int c = 0; c < count && to < text.size(); ++c) to += CharBytes(text, to);
    return std::string(text.substr(from, to - from));
}

void CharDelete(std::string& text, int pos, int count) {
    if (count <= 0) return;
    if (pos < 1) pos = 1;
    const size_t from = OffsetOfChar(text, pos);
    if (from >= text.size()) return;
    size_t to = from;
    for (int c = 0; c < count && to < text.size(); ++c) to += CharBytes(text, to);
    text.erase(from, to - from);
}

std::string_view CutTokenView(std::string_view& text, std::string_view delimiters) {
    if (text.empty()) return {};
    if (!delimiters.empty()) {
        for (size_t i = 0; i < text.size(); i += CharBytes(text, i)) {
            if (delimiters.find(text[i]) != std::string_view::npos) {
                const std::string_view token = text.substr(0, i);
                text.remove_prefix(i + 1);
                return token;
            }
        }
    }
    const std::string_view all = text;
    text = {};
    return all;
}

std::string CutToken(std::string& text, std::string_view delimiters) {
    std::string_view rest = text;
    std::string token(CutTokenView(rest, delimiters));
    text.erase(0, text.size() - rest.size());
    return token;
}

std::string CutThrough(std::string& text, std::string_view marker) {
    const size_t off = FindOnBoundary(marker, text);
    if (off == std::string_view::npos) return {};
    std::string before = text.substr(0, off);
    text.erase(0, off + marker.size());
    return before;
}

std::string TakeLine(std::string& text) {
    std::string line = CutToken(text, "\r");
    // Only the LF that completes the CR LF pair goes: after a lone CR, dropping up to the next LF
    // would swallow whole lines.
    if (!text.empty() && text[0] == '\n') text.erase(0, 1);
    return line;
}

std::string TakeElement(std::string& text, std::string_view startTag, std::string_view endTag) {
    if (startTag.empty() || endTag.empty()) return {};
    const size_t a = FindOnBoundary(startTag, text);
    const size_t b = FindOnBoundary(endTag, text);
    if (a == std::string_view::npos || b == std::string_view::npos || b < a) return {};
    const size_t contentStart = a + startTag.size();
    std::string content;
    if (b > contentStart)
        content = TrimLineBreaks(std::string_view(text).substr(contentStart, b - contentStart));
    text.erase(a, b + endTag.size() - a);
    return content;
}

std::string TrimSpaces(std::string_view text) {
    size_t begin = 0, len = 0;
    while (StartsWithSpace(text, begin, &len)) begin += len;
    // Walk forward so that a trailing 0x81 0x40 is only taken when it is a whole character.
    size_t end = begin;
    for (size_t i = begin; i < text.size();) {
        size_t n = CharBytes(text, i);
        if (!StartsWithSpace(text, i, &len)) end = i + n;
        i += n;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string_view TrimLineBreaksView(std::string_view text) {
    while (text.starts_with("\r\n")) text.remove_prefix(2);
    while (text.ends_with("\r\n")) text.remove_suffix(2);
    return text;
}

std::string TrimLineBreaks(std::string_view text) { return std::string(TrimLineBreaksView(text)); }

std::string TagSectionOpen(std::string_view name) { return std::string("<!--").append(name).append("-->"); }
std::string TagSectionClose(std::string_view name) { return std::string("<!--/").append(name).append("-->"); }

std::string WrapTagSection(std::string_view name, std::string_view content) {
    std::string s = TagSectionOpen(name);
    s.reserve(content.size() + 2 * name.size() + 16);
    s.append(content).append(TagSectionClose(name));
    return s;
}

TagSectionSpan FindTagSection(std::string_view text, std::string_view name, TagSectionRules rules) {
    const std::string open = TagSectionOpen(name), close = TagSectionClose(name);
    const auto find = rules.ignoreCase ? FindOnBoundaryNoCase : FindOnBoundary;
    TagSectionSpan span;
    span.openSize = open.size();
    span.closeSize = close.size();
    span.open = find(open, text);
    if (!rules.closeAfterOpen) {
        span.close = find(close, text);
    } else if (span.open != std::string_view::npos) {
        // The opening tag ends on a character boundary, so the search can start there.
        const size_t from = span.open + open.size();
        const size_t b = find(close, text.substr(from));
        if (b != std::string_view::npos) span.close = from + b;
    }
    return span;
}

std::string_view TagSectionSpan::Content(std::string_view text) const {
    if (!Found()) return {};
    return TrimLineBreaksView(text.substr(open + openSize, close - open - openSize));
}

std::string_view TagSectionView(std::string_view text, std::string_view name, TagSectionRules rules) {
    return FindTagSection(text, name, rules).Content(text);
}

std::string ExtractTagSection(std::string_view text, std::string_view name) {
    return std::string(TagSectionView(text, name));
}

std::string LowerSjis(std::string_view text) {
    std::string out(text);
    for (size_t i = 0; i < out.size();) {
        const size_t n = CharBytes(out, i);
        if (n == 1) out[i] = LowerAscii(out[i]);
        i += n;
    }
    return out;
}

std::string ReplaceAllNoCase(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    const std::string lowText = LowerSjis(text);
    const std::string lowFrom = LowerSjis(from);
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (i + lowFrom.size() <= text.size() && lowText.compare(i, lowFrom.size(), lowFrom) == 0) {
            out.append(to);
            i += lowFrom.size();
        } else {
            const size_t n = CharBytes(text, i);
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string NormalizeLineBreaks(std::string_view text) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    ForEachLine(text, [&](std::string_view line) { out.append(line).append("\r\n"); });
    return out;
}

}  // namespace hanabira
