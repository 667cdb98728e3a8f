#pragma once
// Which sites the user should visit.
#include <string_view>

#include "store/light_strings.h"
#include "store/site_record.h"

namespace hanabira {

bool NeedsVisit(const TMWBlogListRec& rec);  // the visit-list date rule
void BuildVisitList(const TLightStrings& categoryView, std::string_view category, TLightStrings& visitList);

}  // namespace hanabira
