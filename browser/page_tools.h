#pragma once
// The browser toolbar's rules over plain text: link tags, the page link list and the search-engine
// requests for index and backlink checks.
#include <string>
#include <string_view>

namespace hanabira {

// "<a href=\"{$URL}\" target=\"_blank\">{$TEXT}</a>"
const std::string& DefaultLinkTemplate();

// The template with every "{$URL}" replaced by url, then every "{$TEXT}" by text (exact case).
std::string MakeLinkTag(std::string_view linkTemplate, std::string_view url, std::string_view text);

// The page that lists the links of htmlSource (resolved against pageUrl), sorted and without
// duplicates, then two text boxes with the anchors' HTML and the raw "URL<TAB>text" entries.
// A non-empty keyword keeps only the links whose text (or URL) contains it.
std::string BuildLinkListPage(std::string_view htmlSource, std::string_view pageUrl,
                              std::string_view textKeyword, std::string_view urlKeyword);

// Whether a link or address, as a browser reads it, runs script or carries a document of its own
// ("javascript:", "vbscript:", "data:"): leading blanks and controls and any tab or line break are
// ignored, and so is letter case.
bool IsScriptUrl(std::string_view url);

// The index check (tags 0..2: Yahoo! Japan, Google, Bing) or backlink check (tags 3..5, same
// engines) request for the page; empty for any other tag.
std::string SearchRequestURL(int tag, std::string_view pageUrl);

}  // namespace hanabira
