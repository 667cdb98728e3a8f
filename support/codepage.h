#pragma once
// Conversions between the internal Shift_JIS text and Unicode, through iconv (CP932).
#include <string>
#include <string_view>

namespace hanabira {

// UTF-8 to CP932. A character that CP932 cannot hold as itself (one that would not come back the
// same: ♡, emoji, 𠮷, é, and look-alikes such as ¥ or 〜 U+301C) is written as "&#x" + its code
// point in lower-case hex without leading zeros + ";" (lower case: feeds and pages are lower-cased
// before they are read). A malformed UTF-8 byte becomes '?'.
std::string Utf8ToSjis(std::string_view utf8);
// CP932 to UTF-8, for what the user sees or copies. A reference in exactly the form Utf8ToSjis
// writes, naming a character it would write so, becomes that character again; every other
// reference stays as it stands, so decoding then encoding gives back the same bytes. A byte
// sequence that is not CP932 becomes U+FFFD.
std::string SjisToUtf8(std::string_view sjis);
// Text in another code page (an iconv name, e.g. "EUC-JP") as UTF-8; empty when any of it does
// not convert.
std::string OtherCodeToUtf8(std::string_view text, const char* code);
// Whether Utf8ToSjis writes the code point as a reference.
bool WrittenAsReference(char32_t codePoint);
// The length of a reference in the written form (naming a character written so) starting at
// position i of text, or 0.
size_t WrittenReferenceAt(std::string_view text, size_t i);
// A URL as requests and URL steps take it: each reference in the written form becomes the UTF-8
// percent-encoding of its character ("&#x2661;" -> "%E2%99%A1"); every other byte stays.
std::string UrlForRequest(std::string_view url);
// A numeric character reference in any form (decimal, upper- or lower-case hex, leading zeros) to
// a character CP932 cannot hold, rewritten in the written form; every other text stays.
std::string NormalizeReferences(std::string_view text);
// A UTF-8 source literal as CP932 bytes, converted once and cached (thread-safe).
const std::string& SjisLiteral(const char* utf8);

}  // namespace hanabira
