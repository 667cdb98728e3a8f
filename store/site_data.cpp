#include "store/site_data.h"

#include <sys/stat.h>

#include <cerrno>
#include <exception>

#include "store/text_file.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr std::string_view kTreeSection = "\tTree\t";
constexpr std::string_view kSiteSection = "\tBlogList\t";

// ExtractTagSection as a view into text: the site section is most of the file, and a copy of it
// would outlive the table lines allocated after it on the heap.
std::string_view SectionView(std::string_view text, std::string_view name) {
    const std::string open = "<!--" + std::string(name) + "-->";
    const std::string close = "<!--/" + std::string(name) + "-->";
    const size_t a = FindOnBoundary(open, text);
    const size_t b = FindOnBoundary(close, text);
    if (a == std::string_view::npos || b == std::string_view::npos || b < a + open.size()) return {};
    std::string_view content = text.substr(a + open.size(), b - a - open.size());
    while (content.starts_with("\r\n")) content.remove_prefix(2);
    if (content == "\r\n") return {};
    while (content.ends_with("\r\n")) content.remove_suffix(2);
    return content;
}

}  // namespace

SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree) {
    return LoadSiteData(path, siteTable, tree, nullptr);
}

SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree,
                          std::string* bytesRead) {
    SiteDataLoad result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return result;

    // Anything that exists but cannot be read leaves the tables alone: the caller must then not
    // save over the file.
    std::string bytes;
    if (!ReadWholeFile(path, bytes, &result.error)) {
        result.status = SiteDataStatus::Unreadable;
        return result;
    }
    if (bytesRead) *bytesRead = bytes;
    return ParseSiteData(std::move(bytes), siteTable, tree);
}

SiteDataLoad ParseSiteData(std::string bytes, TLightStrings& siteTable, CategoryTree& tree) {
    SiteDataLoad result;
    // A file that holds text but no section, or a section cut off before its closing tag (a torn
    // write by some other program), would load as an empty table or a short tree and be saved over
    // at close: the sites or categories in it would be lost. Treat it as unreadable instead.
    {
        const std::string open = "<!--" + std::string(kSiteSection) + "-->";
        const std::string close = "<!--/" + std::string(kSiteSection) + "-->";
        const std::string treeOpen = "<!--" + std::string(kTreeSection) + "-->";
        const std::string treeClose = "<!--/" + std::string(kTreeSection) + "-->";
        const size_t o = FindOnBoundary(open, bytes);
        const bool hasTree = FindOnBoundary(treeOpen, bytes) != std::string::npos;
        const bool blank = bytes.find_first_not_of(" \t\r\n") == std::string::npos;
        if (o != std::string::npos && FindOnBoundary(close, bytes) == std::string::npos) {
            result.status = SiteDataStatus::Unreadable;
            result.error = "the site section has no end: the file is incomplete";
            return result;
        }
        if (hasTree && FindOnBoundary(treeClose, bytes) == std::string::npos) {
            result.status = SiteDataStatus::Unreadable;
            result.error = "the category tree has no end: the file is incomplete";
            return result;
        }
        if (o == std::string::npos && !hasTree && !blank) {
            result.status = SiteDataStatus::Unreadable;
            result.error = "no site data in this file";
            return result;
        }
    }
    result.status = SiteDataStatus::Loaded;

    // Read as lines first (every line end becomes CR LF), then take the two sections. The raw
    // bytes go as soon as the text exists, so the load peaks at the text plus the table.
    std::string text = FileLinesText(bytes);
    std::string().swap(bytes);
    const std::string treeText = ExtractTagSection(text, kTreeSection);
    siteTable.SetText(SectionView(text, kSiteSection));
    siteTable.ClearIfOnlyEmptyLine();
    std::string().swap(text);

    if (!treeText.empty()) {
        // Built on a copy so that the caller's tree is only ever replaced by a tree, whole or cut
        // short at the fault.
        CategoryTree loaded = tree;
        try {
            MWLoadTreeFromStrings(loaded, treeText);
        } catch (const std::exception&) {
            result.treeError = true;
        }
        tree = std::move(loaded);
    }
    return result;
}

std::string SiteDataText(const TLightStrings& siteTable, const CategoryTree& tree) {
    // WrapTagSection of both sections, built in one buffer: the site text can be tens of MB.
    const std::string treeText = WrapTagSection(kTreeSection, MWSaveTreeToStrings(tree));
    size_t total = treeText.size() + 2 * kSiteSection.size() + 15 + 2;  // the tags, and a spare CR LF
    for (int i = 0; i < siteTable.Count(); ++i) total += siteTable.Get(i).size() + 2;
    std::string out;
    out.reserve(total);
    out.append(treeText).append("<!--").append(kSiteSection).append("-->");
    for (int i = 0; i < siteTable.Count(); ++i) out.append(siteTable.Get(i)).append("\r\n");
    out.append("<!--/").append(kSiteSection).append("-->");
    return out;
}

std::string SiteDataBytes(const TLightStrings& siteTable, const CategoryTree& tree) {
    std::string text = SiteDataText(siteTable, tree);
    // When every break already is CR LF (the usual case), the file's bytes are the text plus the
    // final CR LF, and the split-and-join copy of TextFileBytes can be skipped.
    bool plain = true;
    for (size_t i = 0; i < text.size() && plain; ++i) {
        if (text[i] == '\r') plain = i + 1 < text.size() && text[i + 1] == '\n';
        else if (text[i] == '\n') plain = i > 0 && text[i - 1] == '\r';
    }
    if (!plain) return TextFileBytes(text);
    text.append("\r\n");  // the text ends with the closing tag, never with a break
    return text;
}

bool SaveSiteData(const std::string& path, const TLightStrings& siteTable, const CategoryTree& tree,
                  std::string* error) {
    return WriteFileAtomic(path, SiteDataBytes(siteTable, tree), error);
}

}  // namespace hanabira
