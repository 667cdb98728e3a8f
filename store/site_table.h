#pragma once
// The rules of the site table and the category view; the windows call these and show the result.
#include <string>
#include <string_view>
#include <vector>

#include "store/category_tree.h"
#include "store/light_strings.h"
#include "store/site_record.h"

namespace hanabira {

int IndexOfURL(const TLightStrings& table, std::string_view url);
bool InCategory(const TMWBlogListRec& rec, std::string_view category);  // the category rule of the views
void FilterCategory(const TLightStrings& siteTable, std::string_view category, TLightStrings& view);
// As FilterCategory, also noting for every view line the index of its site table line.
void FilterCategory(const TLightStrings& siteTable, std::string_view category, TLightStrings& view,
                    std::vector<int>& sourceRows);
// Brings a view built by FilterCategory up to date after site table line tableIndex changed (and
// nothing else did): the line is replaced, added or removed, with the result a full rebuild
// would give. False when the view does not fit the table (then rebuild it whole).
bool UpdateCategoryView(const TLightStrings& siteTable, int tableIndex, std::string_view category,
                        TLightStrings& view, std::vector<int>& sourceRows);

// The two system categories.
const std::string& AllSitesCategory();       // "すべてのサイト", the root: every site
const std::string& UncategorizedCategory();  // "未分類": sites with an empty category
bool IsSystemCategory(std::string_view name);

// Stores a site: replaces the first line with the same URL in place (keeping its Registered) or
// appends. Returns the line's index.
int StoreSiteRecord(TLightStrings& table, TMWBlogListRec rec);
// Every category name except the system ones, each followed by CR LF, in tree order.
std::string CategoryListText(const CategoryTree& tree);
// Removes the first line with that URL; false when there is none.
bool DeleteSiteByURL(TLightStrings& table, std::string_view url);
// Sets LastVisit of the first line with that URL; false when there is none.
bool StampLastVisit(TLightStrings& table, std::string_view url, std::string_view dateText);
// Makes every site of the category uncategorised.
void ClearCategory(TLightStrings& table, std::string_view name);
// The position of a site that was read at index: index itself while that line still has the URL,
// else the first line with the URL, else -1. The update checks store results through this, so a
// site deleted or moved meanwhile never has its result written into another site's line.
int LocateSite(const TLightStrings& table, int index, std::string_view url);

// Text of a list row's cell: column 0 is the 1-based row number, columns 1..10 the fields in the
// display order (title, URL, last visit, last update, HEAD time, category, registered, feed URL,
// HEAD check, manager).
std::string SiteListCell(const TMWBlogListRec& rec, int row, int column);
constexpr int kSiteListColumns = 11;
// The text of one cell of a virtual list row formatted from a stored line.
std::string FillSiteListItem(std::string_view line, int row, int column);

}  // namespace hanabira
