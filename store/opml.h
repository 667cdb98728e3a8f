#pragma once
// OPML import and export (OPML 1.0 and 2.0, the list format feed readers exchange). The XML is
// UTF-8; the records are Shift_JIS.
#include <string>
#include <string_view>
#include <vector>

#include "store/category_tree.h"
#include "store/light_strings.h"
#include "store/site_record.h"

namespace hanabira {

struct OpmlImport {
    std::vector<TMWBlogListRec> Sites;  // Category set, Registered empty (the caller stamps it)
    CategoryTree Categories;            // the folders, nested, without the two system categories
};
// Folders (outlines without xmlUrl, named by text, else title) become categories; every outline
// with an xmlUrl becomes a site in the nearest folder's category, never visited, HEAD check
// skipped as a new registration has it. A folder named like a system category, or without a name,
// makes no category: its sites take the category around it (none for a system name); so does a
// link to a page or to another list. Folders with the same name are one category. Throws
// std::runtime_error with a Shift_JIS message that gives the line, for a file that is not
// well-formed XML or not OPML.
OpmlImport ReadOpml(std::string_view xml);
// OPML 2.0: the category tree as nested folders (the system categories not written as folders:
// their sub-categories stand where they stand), every site in its category's folder (uncategorised
// sites at the top level, sites of a category missing from the tree in a folder of that name after
// the tree's), as outlines with text, title, type="rss", xmlUrl and htmlUrl.
std::string WriteOpml(const TLightStrings& siteTable, const CategoryTree& tree);

struct OpmlMergeCount {
    int Added = 0, Skipped = 0;
};
// Appends the imported sites to the site table, each with Registered set to registered; a site
// whose page URL or feed URL the table already holds, or an earlier site of the import had, is
// skipped, and so is one with neither a URL nor a title.
OpmlMergeCount AddImportedSites(TLightStrings& siteTable, const std::vector<TMWBlogListRec>& sites,
                                std::string_view registered);

}  // namespace hanabira
