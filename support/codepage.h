#pragma once
// Conversions between the internal Shift_JIS text and Unicode, through iconv (CP932).
#include <string>
#include <string_view>

namespace hanabira {

// UTF-8 to CP932. Characters that CP932 cannot hold become '?'; malformed UTF-8 bytes too.
std::string Utf8ToSjis(std::string_view utf8);
// CP932 to UTF-8. A byte sequence that is not CP932 becomes U+FFFD.
std::string SjisToUtf8(std::string_view sjis);
// A UTF-8 source literal as CP932 bytes, converted once and cached (thread-safe).
const std::string& SjisLiteral(const char* utf8);

}  // namespace hanabira
