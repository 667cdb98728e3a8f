#pragma once
// Page and URL helpers over Shift_JIS text: no parser, only cuts on character boundaries.
#include <string>
#include <string_view>

namespace hanabira {

std::string ExtractTitle(std::string_view text);
bool ReadAnchor(std::string& text, std::string& url, std::string& linkText);
bool NextLink(std::string& text, std::string& url, std::string& linkText);
std::string DecodeEntities(std::string_view text);
std::string StripTrailingSlash(std::string_view text);
std::string DirectoryPart(std::string_view url);
std::string SiteRoot(std::string_view url);
std::string ResolveLink(std::string_view pageUrl, std::string_view link);

}  // namespace hanabira
