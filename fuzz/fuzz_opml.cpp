// The OPML reader. A file it refuses is refused with std::runtime_error; what it reads can be
// merged into a site table and written out again.
#include <stdexcept>

#include "fuzz_support.h"
#include "store/light_strings.h"
#include "store/opml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    OpmlImport import;
    try {
        import = ReadOpml(fuzzing::Text(data, size));
    } catch (const std::runtime_error&) {
        return 0;
    }
    TLightStrings table('\t');
    (void)AddImportedSites(table, import.Sites, "2026/12/07 12:00:00");
    (void)WriteOpml(table, import.Categories);
    return 0;
}
