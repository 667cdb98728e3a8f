#include "support/encoding.h"

#include <algorithm>
#include <stdexcept>

#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

using Byte = unsigned char;

Byte At(std::string_view text, size_t i) { return static_cast<Byte>(text[i]); }

bool InRange(Byte b, Byte lo, Byte hi) { return b >= lo && b <= hi; }

// The standard JIS X 0208 row/cell to Shift_JIS arithmetic; j1 and j2 in 0x21..0x7E.
void AppendJisAsSjis(std::string& out, Byte j1, Byte j2) {
    const Byte s1 = static_cast<Byte>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    Byte s2;
    if (j1 & 1) {
        s2 = static_cast<Byte>(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
    } else {
        s2 = static_cast<Byte>(j2 + 0x7E);
    }
    out.push_back(static_cast<char>(s1));
    out.push_back(static_cast<char>(s2));
}

std::string JisToSjis(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool twoByte = false;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        const Byte b = At(text, i);
        if (b == 0x1B) {
            if (i + 1 < n) {
                if (text[i + 1] == '$') twoByte = true;
                if (text[i + 1] == '(') twoByte = false;
            }
            i += 3;  // every escape sequence counts three bytes
            continue;
        }
        if (b == 0) break;
        // A pair only of graphic bytes: a stray line break inside two-byte mode stays a line break
        // instead of swallowing its neighbour.
        if (twoByte && InRange(b, 0x21, 0x7E) && i + 1 < n && InRange(At(text, i + 1), 0x21, 0x7E)) {
            AppendJisAsSjis(out, b, At(text, i + 1));
            i += 2;
            continue;
        }
        out.push_back(static_cast<char>(b));
        ++i;
    }
    return out;
}

std::string EucToSjis(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const Byte b = At(text, i);
        if (b <= 0x80 || b == 0xFF) {
            out.push_back(static_cast<char>(b));
            ++i;
        } else if (b == 0x8E) {  // half-width katakana: the second byte is its Shift_JIS code
            if (i + 1 < n) out.push_back(text[i + 1]);
            i += 2;
        } else if (b == 0x8F) {
            // JIS X 0212: a few of its characters are in CP932, the rest are kept as references.
            // Taking the whole three bytes keeps the rest in step.
            const std::string utf8 = OtherCodeToUtf8(text.substr(i, std::min<size_t>(3, n - i)), "EUC-JP");
            out.append(utf8.empty() ? std::string("?") : Utf8ToSjis(utf8));
            i += 3;
        } else if (i + 1 < n && InRange(At(text, i + 1), 0xA1, 0xFE)) {
            if (InRange(b, 0xA1, 0xFE)) {
                AppendJisAsSjis(out, b & 0x7F, At(text, i + 1) & 0x7F);
            } else {
                out.push_back('?');
            }
            i += 2;
        } else {
            // A lead byte without its second byte: dropping only it keeps the next character intact.
            out.push_back('?');
            ++i;
        }
    }
    return out;
}

void AppendUtf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;  // CP932 turns it into '?'
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

bool IsContinuation(Byte b) { return InRange(b, 0x80, 0xBF); }

// Strict decoding: any broken sequence voids the whole text.
std::string StrictUtf8ToSjis(std::string_view text) {
    std::string utf8;
    utf8.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const Byte b = At(text, i);
        if (b < 0x80) {
            utf8.push_back(static_cast<char>(b));
            ++i;
            continue;
        }
        // Four-byte sequences (emoji and the like) are well-formed UTF-8: read as three bytes they
        // would leave a stray continuation byte and void the whole text.
        const size_t len = InRange(b, 0xF0, 0xF7) ? 4 : (b & 0x20) ? 3 : 2;
        if (i + len > n) return {};
        char32_t c = len == 4 ? (b & 0x07) : len == 3 ? (b & 0x0F) : (b & 0x1F);
        for (size_t k = 1; k < len; ++k) {
            const Byte f = At(text, i + k);
            if (!IsContinuation(f)) return {};
            c = (c << 6) | (f & 0x3F);
        }
        AppendUtf8(utf8, c);
        i += len;
    }
    return Utf8ToSjis(utf8);
}

}  // namespace

std::string PlatformUtf8ToShiftJis(std::string_view utf8) {
    // Malformed bytes become replacement characters, so only an empty input decodes to nothing.
    if (utf8.empty()) throw std::runtime_error(SjisLiteral("UTF8の文字列変換に失敗しました."));
    return Utf8ToSjis(utf8);
}

int DetectJapaneseCode(std::string_view text) {
    const size_t n = text.size();
    // Binary test over the first 512 bytes; the last byte of the text is not among them.
    for (size_t i = 0; i < 512 && i + 1 < n; ++i) {
        const Byte b = At(text, i);
        if (b < 0x08 || b == 0xFF) return 1;
    }
    int code = 0;
    size_t i = 0;
    while ((code == 0 || code == 6) && i + 1 < n) {
        const Byte b = At(text, i++);
        if (b == 0x1B) {
            const Byte c = At(text, i++);
            if (c == '$' && i < n) {
                const Byte d = At(text, i++);
                if (d == 'B') code = 2;
                if (d == '@') code = 3;
            }
        } else if (b < 0x08 || b == 0xFF) {
            code = 1;
        } else if (b <= 0x7F) {
            // ASCII
        } else if (InRange(b, 0x81, 0x8D) || InRange(b, 0x8F, 0x9F)) {
            code = 5;
        } else if (b == 0x8E) {
            const Byte c = At(text, i++);
            if (InRange(c, 0x40, 0x7E) || InRange(c, 0x80, 0xA0) || InRange(c, 0xE0, 0xFC)) {
                code = 5;
            } else if (InRange(c, 0xA1, 0xDF)) {
                code = 6;
            }
        } else if (InRange(b, 0xA1, 0xDF)) {
            const Byte c = At(text, i++);
            if (InRange(c, 0xF0, 0xFE)) {
                code = 4;
            } else if (InRange(c, 0xA1, 0xDF)) {
                code = 6;
            } else if (InRange(c, 0xE0, 0xEF)) {
                code = 6;
                // The scan resumes with the byte that ends this run.
                while (i < n && At(text, i) >= 0x40 && code == 6) {
                    const Byte d = At(text, i++);
                    if (InRange(d, 0x81, 0x8D) || InRange(d, 0x8F, 0x9C)) code = 5;
                    if (InRange(d, 0xFD, 0xFE)) code = 4;
                }
            } else if (c <= 0x9F) {
                code = 5;
            }
        } else if (InRange(b, 0xF0, 0xFE)) {
            code = 4;
        } else if (InRange(b, 0xE0, 0xEF)) {
            const Byte c = At(text, i++);
            if (InRange(c, 0x40, 0x7E) || InRange(c, 0x80, 0xA0)) {
                code = 5;
            } else if (InRange(c, 0xFD, 0xFE)) {
                code = 4;
            } else if (InRange(c, 0xA1, 0xFC)) {
                code = 6;
            }
        }
        // 0x80 and 0xA0 tell nothing.
    }
    return code;
}

int DetectCode(std::string_view text) {
    const size_t n = text.size();
    if (n == 0) return 1;
    if (n >= 2 && At(text, 0) == 0xFF && At(text, 1) == 0xFE) return 7;
    if (n >= 2 && At(text, 0) == 0xFE && At(text, 1) == 0xFF) return 8;
    if (n >= 4 && At(text, 0) == 0xEF && At(text, 1) == 0xBB && At(text, 2) == 0xBF) return 9;
    // Only ASCII and well-formed three-byte sequences, at least one of them, count as UTF-8. The
    // scan covers 1-based positions below n - 4, so its look-ahead never leaves the text.
    bool found = false;
    for (size_t i = 0; i < 512 && i + 5 < n;) {
        const Byte b = At(text, i);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const Byte b2 = At(text, i + 1);
        const Byte b3 = At(text, i + 2);
        bool ok = false;
        if (b == 0xE0) {
            ok = InRange(b2, 0xA0, 0xBF) && IsContinuation(b3);
        } else if (InRange(b, 0xE1, 0xEF)) {
            ok = IsContinuation(b2) && IsContinuation(b3);
        }
        found = ok;
        if (!ok) break;
        i += 3;
    }
    return found ? 10 : DetectJapaneseCode(text);
}

std::string ConvertToShiftJis(std::string_view text, int mode) {
    switch (mode) {
        case 0:
            break;
        case 1:
            return std::string(text);
        case 2:
            return StrictUtf8ToSjis(text);
        case 3:
            return EucToSjis(text);
        default:
            return {};
    }
    // Codes 0 to 6 come from the Japanese detection itself, so running it again would change nothing.
    switch (DetectCode(text)) {
        case 2:
        case 3:
            return JisToSjis(text);
        case 4:
            return EucToSjis(text);
        case 7:
        case 8:
            return {};
        case 9:
            return PlatformUtf8ToShiftJis(text.substr(3));
        case 10:
            return PlatformUtf8ToShiftJis(text);
        default:
            return std::string(text);
    }
}

std::string DecodeUtf8Text(std::string_view text) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    const size_t n = text.size();
    // Bytes cut off by the end of the text count as 0x00.
    auto byteAt = [&](size_t i) -> char32_t { return i < n ? At(text, i) : 0; };
    std::string utf8;
    utf8.reserve(n);
    size_t i = 0;
    while (i < n) {
        const Byte b = At(text, i);
        char32_t c;
        size_t len;
        if (b < 0x80) {
            c = b;
            len = 1;
        } else if (InRange(b, 0xC0, 0xDF)) {
            c = ((b & 0x1F) << 6) | (byteAt(i + 1) & 0x3F);
            len = 2;
        } else if (InRange(b, 0xE0, 0xEF)) {
            c = ((b & 0x0F) << 12) | ((byteAt(i + 1) & 0x3F) << 6) | (byteAt(i + 2) & 0x3F);
            len = 3;
        } else if (InRange(b, 0xF0, 0xF7)) {
            c = ((b & 0x07) << 18) | ((byteAt(i + 1) & 0x3F) << 12) | ((byteAt(i + 2) & 0x3F) << 6) |
                (byteAt(i + 3) & 0x3F);
            len = 4;
        } else {
            throw std::runtime_error("UTF-8 Unknown code.");
        }
        AppendUtf8(utf8, c);
        i += len;
    }
    return Utf8ToSjis(utf8);
}

bool DeclaresUtf8(std::string_view text) {
    // Byte search: the text is still in its fetched encoding, so Shift_JIS boundaries mean nothing yet.
    const std::string lower = LowerSjis(text);
    return lower.find("charset=utf-8") != std::string::npos ||
           lower.find("encoding=\"utf-8") != std::string::npos;
}

std::string DecodeFeedText(std::string_view text) {
    if (DeclaresUtf8(text)) {
        std::string decoded = ConvertToShiftJis(text, 2);
        // The marker may stand anywhere, in a script or an article about encodings: a text that is
        // not UTF-8 after all is decoded by detection instead of being lost.
        if (!decoded.empty() || text.empty()) return LowerSjis(decoded);
    }
    return LowerSjis(ConvertToShiftJis(text, 0));
}

std::string DecodePageText(std::string_view text) {
    return LowerSjis(DeclaresUtf8(text) ? DecodeUtf8Text(text) : ConvertToShiftJis(text, 0));
}

}  // namespace hanabira
