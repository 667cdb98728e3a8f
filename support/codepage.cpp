#include "support/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace hanabira {

namespace {

// Converts with iconv; an input byte sequence that cannot be converted is replaced by `bad` and
// skipped by one byte.
std::string Convert(std::string_view in, const char* from, const char* to, std::string_view bad) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    out.reserve(in.size() + in.size() / 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ (malformed) or EINVAL (cut off at the end).
        out.append(bad);
        ++src;
        --srcLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    iconv_close(cd);
    return out;
}

constexpr std::uint16_t kNone = 0xFFFF;  // no CP932 pair ends in 0xFF

// For every BMP code point, its CP932 code (one byte as itself, two bytes as lead << 8 | trail)
// when the character comes back the same through CP932, else kNone. Built once from iconv's own
// tables: decode every CP932 code, encode each character found, keep it when it decodes back.
const std::vector<std::uint16_t>& RoundTripTable() {
    static const std::vector<std::uint16_t> table = [] {
        std::vector<std::uint16_t> enc(0x10000, kNone);
        std::vector<char32_t> dec(0x10000, 0xFFFFFFFF);
        iconv_t toUcs = iconv_open("UTF-32LE", "CP932");
        iconv_t fromUcs = iconv_open("CP932", "UTF-32LE");
        if (toUcs == reinterpret_cast<iconv_t>(-1) || fromUcs == reinterpret_cast<iconv_t>(-1)) return enc;
        auto decode = [&](std::uint16_t code) {
            unsigned char in[2];
            size_t n = 0;
            if (code > 0xFF) in[n++] = static_cast<unsigned char>(code >> 8);
            in[n++] = static_cast<unsigned char>(code & 0xFF);
            unsigned char out[8];
            char* src = reinterpret_cast<char*>(in);
            char* dst = reinterpret_cast<char*>(out);
            size_t srcLeft = n, dstLeft = sizeof out;
            iconv(toUcs, nullptr, nullptr, nullptr, nullptr);
            if (iconv(toUcs, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1) || srcLeft != 0 ||
                sizeof out - dstLeft != 4)
                return;
            dec[code] = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<char32_t>(out[3]) << 24);
        };
        for (unsigned b = 0; b <= 0xFF; ++b) decode(static_cast<std::uint16_t>(b));
        for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
            if (lead > 0x9F && lead < 0xE0) continue;
            for (unsigned trail = 0x40; trail <= 0xFC; ++trail)
                if (trail != 0x7F) decode(static_cast<std::uint16_t>(lead << 8 | trail));
        }
        std::vector<bool> tried(0x10000, false);
        for (unsigned code = 0; code <= 0xFFFF; ++code) {
            const char32_t cp = dec[code];
            if (cp > 0xFFFF || tried[cp]) continue;
            tried[cp] = true;
            unsigned char in[4] = {static_cast<unsigned char>(cp), static_cast<unsigned char>(cp >> 8), 0, 0};
            unsigned char out[4];
            char* src = reinterpret_cast<char*>(in);
            char* dst = reinterpret_cast<char*>(out);
            size_t srcLeft = 4, dstLeft = sizeof out;
            iconv(fromUcs, nullptr, nullptr, nullptr, nullptr);
            if (iconv(fromUcs, &src, &srcLeft, &dst, &dstLeft) == static_cast<size_t>(-1)) continue;
            const size_t len = sizeof out - dstLeft;
            if (len == 0 || len > 2) continue;
            const std::uint16_t back = len == 1 ? out[0] : static_cast<std::uint16_t>(out[0] << 8 | out[1]);
            if (dec[back] == cp) enc[cp] = back;
        }
        iconv_close(toUcs);
        iconv_close(fromUcs);
        return enc;
    }();
    return table;
}

void AppendUtf8(std::string& out, char32_t c) {
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

void AppendReference(std::string& out, char32_t c) {
    static const char kHex[] = "0123456789abcdef";
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kHex[c & 0xF];
        c >>= 4;
    } while (c);
    out.append("&#x");
    while (n) out.push_back(digits[--n]);
    out.push_back(';');
}

// Reads one well-formed UTF-8 character at i (no overlong forms, no surrogates); 0 when malformed.
size_t ReadUtf8(std::string_view s, size_t i, char32_t& c) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b = at(i);
    size_t len;
    if (b < 0x80) {
        c = b;
        return 1;
    }
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        c = b & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((at(i + k) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (at(i + k) & 0x3F);
    }
    const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    return len;
}

// Reads a reference in exactly the written form at i ("&#x", 1 to 6 lower-case hex digits without a
// leading zero, ";") naming a character written so; its length, or 0.
size_t ReadWrittenReference(std::string_view s, size_t i, char32_t& c) {
    if (s.compare(i, 3, "&#x") != 0) return 0;
    size_t k = i + 3;
    c = 0;
    while (k < s.size() && k - i - 3 < 7) {
        const char d = s[k];
        if (d >= '0' && d <= '9') c = c * 16 + static_cast<char32_t>(d - '0');
        else if (d >= 'a' && d <= 'f') c = c * 16 + static_cast<char32_t>(d - 'a' + 10);
        else break;
        ++k;
    }
    const size_t digits = k - i - 3;
    if (digits == 0 || digits > 6 || s[i + 3] == '0' || k >= s.size() || s[k] != ';') return 0;
    return WrittenAsReference(c) ? k + 1 - i : 0;
}

}  // namespace

size_t WrittenReferenceAt(std::string_view text, size_t i) {
    char32_t c = 0;
    return ReadWrittenReference(text, i, c);
}

bool WrittenAsReference(char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    return c > 0xFFFF || RoundTripTable()[c] == kNone;
}

std::string Utf8ToSjis(std::string_view utf8) {
    const std::vector<std::uint16_t>& table = RoundTripTable();
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const size_t len = ReadUtf8(utf8, i, c);
        if (len == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        i += len;
        const std::uint16_t code = c <= 0xFFFF ? table[c] : kNone;
        if (code == kNone) {
            AppendReference(out, c);
        } else if (code > 0xFF) {
            out.push_back(static_cast<char>(code >> 8));
            out.push_back(static_cast<char>(code & 0xFF));
        } else {
            out.push_back(static_cast<char>(code));
        }
    }
    return out;
}

std::string SjisToUtf8(std::string_view sjis) {
    std::string utf8 = Convert(sjis, "CP932", "UTF-8", "\xEF\xBF\xBD");
    if (utf8.find("&#x") == std::string::npos) return utf8;
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        if (const size_t len = ReadWrittenReference(utf8, i, c)) {
            AppendUtf8(out, c);
            i += len;
        } else {
            out.push_back(utf8[i++]);
        }
    }
    return out;
}

std::string OtherCodeToUtf8(std::string_view text, const char* code) {
    const std::string bad = "\x01\x02";  // never in converted text here: marks a failure
    std::string utf8 = Convert(text, code, "UTF-8", bad);
    return utf8.find(bad) == std::string::npos ? utf8 : std::string();
}

std::string UrlForRequest(std::string_view url) {
    if (url.find("&#x") == std::string_view::npos) return std::string(url);
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(url.size());
    for (size_t i = 0; i < url.size();) {
        char32_t c = 0;
        if (const size_t len = ReadWrittenReference(url, i, c)) {
            std::string bytes;
            AppendUtf8(bytes, c);
            for (const unsigned char b : bytes) out.append({'%', kHex[b >> 4], kHex[b & 0xF]});
            i += len;
        } else {
            out.push_back(url[i++]);
        }
    }
    return out;
}

std::string NormalizeReferences(std::string_view text) {
    if (text.find("&#") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 2, "&#") != 0) {
            out.push_back(text[i++]);
            continue;
        }
        const bool hex = i + 2 < text.size() && (text[i + 2] == 'x' || text[i + 2] == 'X');
        size_t k = i + (hex ? 3 : 2);
        char32_t c = 0;
        bool tooLarge = false;
        const size_t first = k;
        while (k < text.size()) {
            const char d = text[k];
            int v;
            if (d >= '0' && d <= '9') v = d - '0';
            else if (hex && d >= 'a' && d <= 'f') v = d - 'a' + 10;
            else if (hex && d >= 'A' && d <= 'F') v = d - 'A' + 10;
            else break;
            c = c * (hex ? 16 : 10) + static_cast<char32_t>(v);
            if (c > 0x10FFFF) tooLarge = true, c = 0x110000;
            ++k;
        }
        if (k == first || k >= text.size() || text[k] != ';' || tooLarge || !WrittenAsReference(c)) {
            out.push_back(text[i++]);
            continue;
        }
        AppendReference(out, c);
        i = k + 1;
    }
    return out;
}

const std::string& SjisLiteral(const char* utf8) {
    static std::mutex mutex;
    static std::map<std::string, std::string, std::less<>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(std::string_view(utf8));
    if (it == cache.end()) it = cache.emplace(utf8, Utf8ToSjis(utf8)).first;
    return it->second;
}

}  // namespace hanabira
