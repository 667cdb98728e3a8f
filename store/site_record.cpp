#include "store/site_record.h"

#include <array>

namespace hanabira {

namespace {

// Takes the next field: the text up to the next TAB (consumed), or the whole rest.
std::string_view NextField(std::string_view& rest) {
    const size_t tab = rest.find('\t');
    if (tab == std::string_view::npos) {
        std::string_view all = rest;
        rest = {};
        return all;
    }
    std::string_view field = rest.substr(0, tab);
    rest.remove_prefix(tab + 1);
    return field;
}

}  // namespace

TMWBlogListRec ReadSiteRecord(std::string_view line) {
    TMWBlogListRec rec;
    // Declaration order is the stored order; anything after a tenth TAB is not a field.
    const std::array<std::string*, 10> fields = {&rec.SiteTitle,  &rec.SiteURL,  &rec.LastVisit, &rec.Registered,
                                                 &rec.LastUpdate, &rec.Category, &rec.RSSURL,    &rec.HeadTime,
                                                 &rec.HeadCheck,  &rec.ManagerName};
    std::string_view rest = line;
    for (std::string* f : fields) {
        if (rest.empty()) break;
        f->assign(NextField(rest));
    }
    return rec;
}

std::string WriteSiteRecord(const TMWBlogListRec& rec) {
    const std::array<const std::string*, 10> fields = {&rec.SiteTitle,  &rec.SiteURL,  &rec.LastVisit, &rec.Registered,
                                                       &rec.LastUpdate, &rec.Category, &rec.RSSURL,    &rec.HeadTime,
                                                       &rec.HeadCheck,  &rec.ManagerName};
    size_t total = 9;
    for (const std::string* f : fields) total += f->size();
    std::string line;
    line.reserve(total);
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) line.push_back('\t');
        line.append(*fields[i]);
    }
    return line;
}

std::string_view SiteURLOfLine(std::string_view line) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return {};
    std::string_view rest = line.substr(tab + 1);
    return rest.substr(0, rest.find('\t'));
}

}  // namespace hanabira
