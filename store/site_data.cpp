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

}  // namespace

SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree) {
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
    result.status = SiteDataStatus::Loaded;

    // Read as lines first (every line end becomes CR LF), then take the two sections. Each large
    // copy is dropped as soon as the next one exists, so the load peaks at about twice the file.
    std::string text = FileLinesText(bytes);
    std::string().swap(bytes);
    const std::string treeText = ExtractTagSection(text, kTreeSection);
    std::string siteText = ExtractTagSection(text, kSiteSection);
    std::string().swap(text);

    siteTable.SetText(siteText);
    siteTable.ClearIfOnlyEmptyLine();
    std::string().swap(siteText);

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

bool SaveSiteData(const std::string& path, const TLightStrings& siteTable, const CategoryTree& tree,
                  std::string* error) {
    std::string text = SiteDataText(siteTable, tree);
    // When every break already is CR LF (the usual case), the file's bytes are the text plus the
    // final CR LF, and the split-and-join copy of SaveTextFile can be skipped.
    bool plain = true;
    for (size_t i = 0; i < text.size() && plain; ++i) {
        if (text[i] == '\r') plain = i + 1 < text.size() && text[i + 1] == '\n';
        else if (text[i] == '\n') plain = i > 0 && text[i - 1] == '\r';
    }
    if (!plain) return SaveTextFile(path, text, error);
    text.append("\r\n");  // the text ends with the closing tag, never with a break
    return WriteFileAtomic(path, text, error);
}

}  // namespace hanabira
