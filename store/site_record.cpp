#include "store/site_record.h"

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
    // Anything after a tenth TAB is not a field.
    std::string_view rest = line;
    for (SiteField f : kSiteFields) {
        if (rest.empty()) break;
        (rec.*f).assign(NextField(rest));
    }
    return rec;
}

std::string WriteSiteRecord(const TMWBlogListRec& rec) {
    size_t total = kSiteFields.size() - 1;
    for (SiteField f : kSiteFields) total += (rec.*f).size();
    std::string line;
    line.reserve(total);
    for (SiteField f : kSiteFields) {
        if (f != kSiteFields.front()) line.push_back('\t');
        line.append(rec.*f);
    }
    return line;
}

std::string_view FieldOfLine(std::string_view line, SiteField field) {
    for (SiteField f : kSiteFields) {
        if (f == field) return line.substr(0, line.find('\t'));
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) return {};
        line.remove_prefix(tab + 1);
    }
    return {};
}

}  // namespace hanabira
