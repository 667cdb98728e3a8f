#pragma once
// Detection of Japanese encodings and conversion of fetched bytes into Shift_JIS.
#include <string>
#include <string_view>

namespace hanabira {

int DetectJapaneseCode(std::string_view text);                   // 0..6
int DetectCode(std::string_view text);                           // 0..10
std::string ConvertToShiftJis(std::string_view text, int mode);  // may throw std::runtime_error
std::string DecodeUtf8Text(std::string_view text);  // throws std::runtime_error("UTF-8 Unknown code.")
bool DeclaresUtf8(std::string_view text);
std::string DecodeFeedText(std::string_view text);
std::string DecodePageText(std::string_view text);

// The lenient UTF-8 decoding of automatic conversion: malformed bytes become '?'. Throws
// std::runtime_error("UTF8の文字列変換に失敗しました." in Shift_JIS) when nothing decodes.
std::string PlatformUtf8ToShiftJis(std::string_view utf8);

}  // namespace hanabira
