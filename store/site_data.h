#pragma once
// The site data file: the category tree and the site table, as two tag sections.
#include <string>

#include "store/category_tree.h"
#include "store/light_strings.h"

namespace hanabira {

enum class SiteDataStatus { Missing, Loaded, Unreadable };
struct SiteDataLoad {
    SiteDataStatus status = SiteDataStatus::Missing;
    // The tree text was broken; what was read before the fault stays. The file must then not be
    // written over: the categories after the fault are only in it.
    bool treeError = false;
    std::string error;       // why the file could not be read (Unreadable)
};

// Reads the data file into the site table and the tree. A missing file changes nothing; an
// unreadable one changes nothing and says so.
SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree);
// As above; bytesRead receives the file's bytes (empty when it is missing or unreadable).
SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree,
                          std::string* bytesRead);
// LoadSiteData on the bytes of a file already read.
SiteDataLoad ParseSiteData(std::string bytes, TLightStrings& siteTable, CategoryTree& tree);
// The bytes SaveSiteData writes.
std::string SiteDataBytes(const TLightStrings& siteTable, const CategoryTree& tree);
// Writes the data file atomically; false (with error) when it cannot be written.
bool SaveSiteData(const std::string& path, const TLightStrings& siteTable, const CategoryTree& tree,
                  std::string* error = nullptr);
// The data file's text before it is split into CR LF lines.
std::string SiteDataText(const TLightStrings& siteTable, const CategoryTree& tree);

}  // namespace hanabira
