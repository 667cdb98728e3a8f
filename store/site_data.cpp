#include "store/site_data.h"

#include <exception>

#include "store/text_file.h"
#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr std::string_view kTreeSection = "\tTree\t";
constexpr std::string_view kSiteSection = "\tBlogList\t";

}  // namespace

SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree) {
    return LoadSiteData(path, siteTable, tree, nullptr);
}

SiteDataLoad LoadSiteData(const std::string& path, TLightStrings& siteTable, CategoryTree& tree,
                          std::string* bytesRead) {
    SiteDataLoad result;
    if (bytesRead) bytesRead->clear();
    std::string bytes;
    const FileRead read = ReadFileIfPresent(path, bytes, &result.error);
    if (read == FileRead::Missing) return result;
    // Anything that exists but cannot be read leaves the tables alone: the caller must then not
    // save over the file.
    if (read == FileRead::Failed) {
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
    const TagSectionSpan sites = FindTagSection(bytes, kSiteSection);
    const TagSectionSpan treeTags = FindTagSection(bytes, kTreeSection);
    const char* fault = nullptr;
    if (sites.open != std::string::npos && sites.close == std::string::npos)
        fault = "サイトリストの終わりがありません (ファイルが途中で切れています)";
    else if (treeTags.open != std::string::npos && treeTags.close == std::string::npos)
        fault = "カテゴリツリーの終わりがありません (ファイルが途中で切れています)";
    else if (sites.open == std::string::npos && treeTags.open == std::string::npos &&
             bytes.find_first_not_of(" \t\r\n") != std::string::npos)
        fault = "このファイルにはサイトデータがありません";
    if (fault) {
        result.status = SiteDataStatus::Unreadable;
        result.error = SjisLiteral(fault);
        return result;
    }
    result.status = SiteDataStatus::Loaded;

    // Read as lines first (every line end becomes CR LF), then take the two sections. The raw
    // bytes go as soon as the text exists, so the load peaks at the text plus the table.
    std::string text = FileLinesText(bytes);
    std::string().swap(bytes);
    const std::string treeText = ExtractTagSection(text, kTreeSection);
    // A view, not a copy: the site section is most of the file, and a copy of it would outlive
    // the table lines allocated after it on the heap.
    siteTable.SetText(TagSectionView(text, kSiteSection));
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
    const std::string open = TagSectionOpen(kSiteSection), close = TagSectionClose(kSiteSection);
    size_t total = treeText.size() + open.size() + close.size() + 2;  // and a spare CR LF
    for (int i = 0; i < siteTable.Count(); ++i) total += siteTable.Get(i).size() + 2;
    std::string out;
    out.reserve(total);
    out.append(treeText).append(open);
    for (int i = 0; i < siteTable.Count(); ++i) out.append(siteTable.Get(i)).append("\r\n");
    out.append(close);
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
