// The data file reader and the category tree's text form. A tree that was read saves to a text
// that reads without error to the same tree, whatever the input was.
#include <stdexcept>

#include "fuzz_support.h"
#include "store/category_tree.h"
#include "store/light_strings.h"
#include "store/site_data.h"
#include "store/site_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    const std::string_view in = fuzzing::Text(data, size);

    CategoryTree tree = BuiltInCategoryTree();
    try {
        MWLoadTreeFromStrings(tree, in);
    } catch (const std::runtime_error&) {
        // A bad level: the nodes before it stay, and must save and read like any tree.
    }
    const std::string saved = MWSaveTreeToStrings(tree);
    CategoryTree again;
    MWLoadTreeFromStrings(again, saved);  // throws only on a bad level: a finding here
    fuzzing::Require(MWSaveTreeToStrings(again) == saved, "a saved tree reads back as it was");

    static const std::string path = fuzzing::ScratchFile("RssSites.dat");
    fuzzing::WriteScratch(path, in);
    TLightStrings table('\t');
    CategoryTree fileTree = BuiltInCategoryTree();
    const SiteDataLoad load = LoadSiteData(path, table, fileTree);
    if (load.status == SiteDataStatus::Loaded) {
        // Every line of the table is a site record that writes back to a line that reads the same.
        for (int i = 0; i < table.Count() && i < 64; ++i) {
            const TMWBlogListRec rec = ReadSiteRecord(table.Get(i));
            const TMWBlogListRec back = ReadSiteRecord(WriteSiteRecord(rec));
            fuzzing::Require(WriteSiteRecord(back) == WriteSiteRecord(rec), "a site record round trip");
        }
        (void)SiteDataText(table, fileTree);
    }
    return 0;
}
