#include "store/opml.h"

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <map>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

#include "store/site_table.h"
#include "support/codepage.h"
#include "support/html_text.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Image indices of a category node, as the main window gives a category it adds.
constexpr int kCategoryImage = 5;
constexpr int kCategorySelectedImage = 0;

// A stored site line is TAB-separated and one line long: no field may hold a TAB or a line break.
std::string FieldText(const QString& text) {
    std::string sjis = Utf8ToSjis(text.toUtf8().toStdString());
    std::string out;
    out.reserve(sjis.size());
    for (char c : sjis)
        if (c != '\t' && c != '\r' && c != '\n') out += c;
    return TrimSpaces(out);
}

// Attribute names are matched without regard to case: some programs write xmlurl or XMLURL.
QString Attribute(const QXmlStreamAttributes& attrs, QStringView name) {
    for (const QXmlStreamAttribute& a : attrs)
        if (a.name().compare(name, Qt::CaseInsensitive) == 0) return a.value().toString();
    return {};
}

bool HasAttribute(const QXmlStreamAttributes& attrs, QStringView name) {
    for (const QXmlStreamAttribute& a : attrs)
        if (a.name().compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

// The page of a feed that names none: the folder that holds the feed, so that two blogs on one
// host stay two sites. Query and fragment do not count; a URL with no path is its own page.
std::string PageOfFeed(const std::string& keptFeedUrl) {
    const std::string feedUrl = UrlForRequest(keptFeedUrl);  // a kept reference's '#' is no fragment
    const size_t scheme = feedUrl.find("://");
    const size_t hostStart = scheme == std::string::npos ? 0 : scheme + 3;
    const std::string path = feedUrl.substr(0, feedUrl.find_first_of("?#"));
    if (path.find('/', hostStart) == std::string::npos) return StripTrailingSlash(path);
    return DirectoryPart(path);
}

// The site an outline with an xmlUrl stands for: never visited, HEAD check skipped as a new
// registration has it.
TMWBlogListRec SiteOfOutline(const QXmlStreamAttributes& attrs, const std::string& feed,
                             const std::string& category) {
    TMWBlogListRec site;
    site.RSSURL = feed;
    site.SiteURL = StripTrailingSlash(FieldText(Attribute(attrs, u"htmlUrl")));
    if (site.SiteURL.empty() && !feed.empty()) site.SiteURL = PageOfFeed(feed);
    site.SiteTitle = FieldText(Attribute(attrs, u"title"));
    if (site.SiteTitle.empty()) site.SiteTitle = FieldText(Attribute(attrs, u"text"));
    if (site.SiteTitle.empty()) site.SiteTitle = site.SiteURL;
    site.Category = category;
    site.HeadCheck = "Skip";
    return site;
}

[[noreturn]] void Fail(const char* whatUtf8, qint64 line, const QString& detail = {}) {
    std::string message = SjisLiteral(whatUtf8) + " (" + std::to_string(line) + SjisLiteral("行目") + ")";
    if (!detail.isEmpty()) message += ": " + Utf8ToSjis(detail.toUtf8().toStdString());
    throw std::runtime_error(message);
}

// The folders while they are read: a flat list with child indices, made into the tree at the end.
struct Folder {
    std::string name;
    std::vector<int> children;
};

TreeNode ToNode(const std::vector<Folder>& folders, int index) {
    TreeNode node;
    node.Text = folders[index].name;
    node.ImageIndex = kCategoryImage;
    node.SelectedIndex = kCategorySelectedImage;
    for (int child : folders[index].children) node.Children.push_back(ToNode(folders, child));
    return node;
}

}  // namespace

OpmlImport ReadOpml(std::string_view xml) {
    QXmlStreamReader reader(QByteArray(xml.data(), static_cast<qsizetype>(xml.size())));
    std::vector<Folder> folders;
    std::vector<int> topFolders;
    std::unordered_map<std::string, int> folderByName;
    // One entry per open outline: the folder its children go into (-1: the top level) and the
    // category its sites get.
    struct Open {
        int folder;
        std::string category;
    };
    std::vector<Open> open;
    OpmlImport result;
    int depth = 0;
    bool inBody = false;

    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            --depth;
            if (inBody && reader.name() == QLatin1String("outline") && !open.empty()) open.pop_back();
            if (depth == 1 && reader.name() == QLatin1String("body")) inBody = false;
            continue;
        }
        if (token != QXmlStreamReader::StartElement) continue;
        ++depth;
        if (depth == 1) {
            if (reader.name() != QLatin1String("opml"))
                Fail("OPMLファイルではありません", reader.lineNumber());
            continue;
        }
        if (depth == 2 && reader.name() == QLatin1String("body")) {
            inBody = true;
            continue;
        }
        if (!inBody || reader.name() != QLatin1String("outline")) continue;

        const QXmlStreamAttributes attrs = reader.attributes();
        const int parentFolder = open.empty() ? -1 : open.back().folder;
        const std::string parentCategory = open.empty() ? std::string() : open.back().category;
        const std::string feed = FieldText(Attribute(attrs, u"xmlUrl"));
        if (!feed.empty() || HasAttribute(attrs, u"xmlUrl")) {
            result.Sites.push_back(SiteOfOutline(attrs, feed, parentCategory));
            open.push_back({parentFolder, parentCategory});  // outlines below a feed stay in its folder
            continue;
        }
        std::string name = FieldText(Attribute(attrs, u"text"));
        if (name.empty()) name = FieldText(Attribute(attrs, u"title"));
        // A link to a page or another list (OPML 2.0 type "link" or "include") is no folder.
        const QString type = Attribute(attrs, u"type").trimmed();
        if (name.empty() || HasAttribute(attrs, u"url") || type.compare(u"link", Qt::CaseInsensitive) == 0 ||
            type.compare(u"include", Qt::CaseInsensitive) == 0) {
            open.push_back({parentFolder, parentCategory});
            continue;
        }
        if (IsSystemCategory(name)) {
            open.push_back({parentFolder, std::string()});
            continue;
        }
        auto found = folderByName.find(name);
        int index;
        if (found != folderByName.end()) {
            index = found->second;
        } else {
            index = static_cast<int>(folders.size());
            folders.push_back({name, {}});
            folderByName.emplace(name, index);
            (parentFolder < 0 ? topFolders : folders[parentFolder].children).push_back(index);
        }
        open.push_back({index, name});
    }
    if (reader.hasError()) Fail("OPMLファイルを読み込めません", reader.lineNumber(), reader.errorString());
    for (int index : topFolders) result.Categories.push_back(ToNode(folders, index));
    return result;
}

namespace {

// Shift_JIS field text as XML attribute text; control characters other than TAB, CR and LF are
// not allowed in XML at all and are left out.
QString XmlText(const std::string& sjis) {
    QString text = QString::fromUtf8(SjisToUtf8(sjis));
    text.removeIf([](QChar c) { return c.unicode() < 0x20 && c != u'\t' && c != u'\r' && c != u'\n'; });
    return text;
}

void WriteSite(QXmlStreamWriter& w, const TMWBlogListRec& site) {
    w.writeEmptyElement("outline");
    w.writeAttribute("text", XmlText(site.SiteTitle));
    w.writeAttribute("title", XmlText(site.SiteTitle));
    w.writeAttribute("type", "rss");
    w.writeAttribute("xmlUrl", XmlText(site.RSSURL));
    w.writeAttribute("htmlUrl", XmlText(site.SiteURL));
}

class OpmlWriter {
public:
    OpmlWriter(QXmlStreamWriter& w, const TLightStrings& siteTable) : w_(w) {
        for (int i = 0; i < siteTable.Count(); ++i) {
            TMWBlogListRec rec = ReadSiteRecord(siteTable.Get(i));
            const std::string category =
                rec.Category == UncategorizedCategory() ? std::string() : rec.Category;
            if (!category.empty() && !byCategory_.count(category)) categoryOrder_.push_back(category);
            byCategory_[category].push_back(std::move(rec));
        }
    }

    // A system category is no folder: what stands below it is written in its place.
    void Nodes(const std::vector<TreeNode>& nodes) {
        for (const TreeNode& n : nodes) {
            if (IsSystemCategory(n.Text)) {
                Nodes(n.Children);
                continue;
            }
            w_.writeStartElement("outline");
            w_.writeAttribute("text", XmlText(n.Text));
            w_.writeAttribute("title", XmlText(n.Text));
            Sites(n.Text);  // under the first node of that name only, should the tree have two
            Nodes(n.Children);
            w_.writeEndElement();
        }
    }

    // Sites whose category the tree lacks keep it in a folder of that name; uncategorised last.
    void Rest() {
        for (const std::string& category : categoryOrder_) {
            if (!byCategory_.count(category)) continue;
            w_.writeStartElement("outline");
            w_.writeAttribute("text", XmlText(category));
            w_.writeAttribute("title", XmlText(category));
            Sites(category);
            w_.writeEndElement();
        }
        Sites(std::string());
    }

private:
    void Sites(const std::string& category) {
        auto it = byCategory_.find(category);
        if (it == byCategory_.end()) return;
        for (const TMWBlogListRec& site : it->second) WriteSite(w_, site);
        byCategory_.erase(it);
    }

    QXmlStreamWriter& w_;
    std::map<std::string, std::vector<TMWBlogListRec>> byCategory_;
    std::vector<std::string> categoryOrder_;
};

}  // namespace

std::string WriteOpml(const TLightStrings& siteTable, const CategoryTree& tree) {
    QByteArray out;
    QXmlStreamWriter w(&out);
    w.setAutoFormatting(true);
    w.setAutoFormattingIndent(2);
    w.writeStartDocument();
    w.writeStartElement("opml");
    w.writeAttribute("version", "2.0");
    w.writeStartElement("head");
    w.writeTextElement("title", QString::fromUtf8("Hanabira 2号"));
    w.writeEndElement();
    w.writeStartElement("body");
    OpmlWriter sites(w, siteTable);
    sites.Nodes(tree);
    sites.Rest();
    w.writeEndElement();
    w.writeEndElement();
    w.writeEndDocument();
    return out.toStdString();
}

OpmlMergeCount AddImportedSites(TLightStrings& siteTable, const std::vector<TMWBlogListRec>& sites,
                                std::string_view registered) {
    std::unordered_set<std::string> pages, feeds;
    for (int i = 0; i < siteTable.Count(); ++i) {
        TMWBlogListRec rec = ReadSiteRecord(siteTable.Get(i));
        if (!rec.SiteURL.empty()) pages.insert(std::move(rec.SiteURL));
        if (!rec.RSSURL.empty()) feeds.insert(std::move(rec.RSSURL));
    }
    OpmlMergeCount count;
    for (const TMWBlogListRec& site : sites) {
        const bool known = (!site.SiteURL.empty() && pages.count(site.SiteURL)) ||
                           (!site.RSSURL.empty() && feeds.count(site.RSSURL));
        if (known || (site.SiteURL.empty() && site.RSSURL.empty() && site.SiteTitle.empty())) {
            ++count.Skipped;
            continue;
        }
        TMWBlogListRec rec = site;
        rec.Registered = std::string(registered);
        siteTable.Add(WriteSiteRecord(rec));
        if (!rec.SiteURL.empty()) pages.insert(rec.SiteURL);
        if (!rec.RSSURL.empty()) feeds.insert(rec.RSSURL);
        ++count.Added;
    }
    return count;
}

}  // namespace hanabira
