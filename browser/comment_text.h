#pragma once
// The comment window's rules over plain text: the own-site list, the manager name of the page shown,
// and the filling of the comment template.
#include <string>
#include <string_view>
#include <vector>

#include "store/light_strings.h"

namespace hanabira {

struct TOwnSite {
    std::string Name, URL, MyName;
};

// One entry per line of the own-site list, blank lines included: the first three comma-separated
// fields (not trimmed); text after a third comma is ignored.
std::vector<TOwnSite> ParseOwnSites(std::string_view ownSiteText);
// Field 1 of every line, in order: the entries of the own-site selector.
std::vector<std::string> OwnSiteNames(std::string_view ownSiteText);
// The first own site whose name equals name exactly; with none, URL and MyName are both "----".
TOwnSite OwnSiteFor(std::string_view ownSiteText, std::string_view name);
// Index of the first name equal to text with ASCII letter case ignored, or -1.
int FindNameNoCase(const std::vector<std::string>& names, std::string_view text);

// ManagerName of the first site (in stored order) whose URL, less one trailing "/", begins the page
// URL; empty when none does.
std::string FindManagerName(const TLightStrings& siteTable, std::string_view pageUrl);
// The comment with its four placeholders filled, letter case ignored, in the order
// {$MySiteName}, {$MySiteURL}, {$MyName}, {$Manager}.
std::string FillCommentTemplate(std::string_view comment, std::string_view mySiteName,
                                std::string_view mySiteURL, std::string_view myName, std::string_view manager);

}  // namespace hanabira
