#pragma once
// Three-way merge of the site list: the version this program last read or wrote (base), what the
// program holds now (mine) and what another copy wrote into the file meanwhile (theirs), so that a
// list kept in a synced folder loses no site added or changed on either computer.
#include <string>

#include "store/category_tree.h"
#include "store/light_strings.h"

namespace hanabira {

struct SiteList {
    TLightStrings Sites;  // stored site lines
    CategoryTree Tree;
};

struct SiteListMerge {
    SiteList Merged;
    int Added = 0;      // sites that came in from the other copy
    int Deleted = 0;    // sites the other copy deleted and this program had not changed
    int Conflicts = 0;  // sites with a field both sides changed differently (this program's value kept)
};

// Sites are matched by URL and, among lines with the same URL (blank lines included), by their
// occurrence in order. A line neither side changed, or changed on one side only, is taken verbatim.
SiteListMerge MergeSiteLists(const SiteList& base, const SiteList& mine, const SiteList& theirs);

}  // namespace hanabira
