#pragma once
// What a run found, for the notice the desktop shows when the window is away: which sites entered
// the visit list during the run, and the notice's text.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "store/light_strings.h"

namespace hanabira {

// Every site of the table by URL, with whether it needs a visit (the visit-list date rule over all
// categories, whatever category is shown).
using VisitSnapshot = std::map<std::string, bool>;
VisitSnapshot TakeVisitSnapshot(const TLightStrings& siteTable);
// The titles (the URL where a title is empty) of the sites that need a visit now but did not at
// the snapshot, in table order. A site added since the snapshot is not counted: it is new to the
// list, not updated.
std::vector<std::string> SitesEnteredVisitList(const VisitSnapshot& before, const TLightStrings& siteTable);

// "3 件のブログが更新されました: A、B、C", at most three names, then " ほか N 件"; Shift_JIS, plain.
// count is the number of sites; names the first of them (more than three are not used).
std::string UpdateNoticeText(int count, const std::vector<std::string>& names);
// The text for a notification service that reads markup: '&', '<' and '>' as entities. A character
// reference "&#x...;" (how a name keeps a character Shift_JIS cannot hold) stays one: in markup it
// is the same character.
std::string EscapeNoticeMarkup(std::string_view text);

}  // namespace hanabira
