#include "check/visit_list.h"

#include "check/dates.h"
#include "store/site_table.h"

namespace hanabira {

bool NeedsVisit(const TMWBlogListRec& rec) {
    const TDateTime lv = DateValue(rec.LastVisit);
    if (lv == 0) return true;  // never visited
    const TDateTime ht = DateValue(rec.HeadTime);
    const TDateTime lu = DateValue(rec.LastUpdate);
    // With a HEAD date, the feed file must have changed since the visit as well as its item date.
    if (ht != 0) return ht > lv && lu > lv;
    return lu > lv;
}

void BuildVisitList(const TLightStrings& categoryView, std::string_view category, TLightStrings& visitList) {
    visitList.Clear();
    for (int i = 0; i < categoryView.Count(); ++i) {
        const TMWBlogListRec rec = ReadSiteRecord(categoryView.Get(i));
        if (InCategory(rec, category) && NeedsVisit(rec)) visitList.Add(WriteSiteRecord(rec));
    }
}

}  // namespace hanabira
