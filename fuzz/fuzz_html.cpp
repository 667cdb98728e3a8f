// HTML cutting and link helpers. The first line of the input is a page URL, the rest its text.
#include "fuzz_support.h"
#include "support/html_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    const std::string_view in = fuzzing::Text(data, size);
    const size_t cut = in.find('\n');
    const std::string_view url = in.substr(0, cut);
    const std::string_view page = cut == std::string_view::npos ? std::string_view() : in.substr(cut + 1);

    (void)ExtractTitle(page);
    (void)DecodeEntities(page);
    (void)StripTrailingSlash(url);
    (void)DirectoryPart(url);
    (void)SiteRoot(url);
    // Every link of the page, resolved against the page: each step must consume text, or a
    // page could hold a reader in an endless loop.
    std::string rest(page), link, text;
    for (size_t before = rest.size(); NextLink(rest, link, text); before = rest.size()) {
        (void)ResolveLink(url, link);
        fuzzing::Require(rest.size() < before, "NextLink consumes text");
    }
    std::string anchors(page);
    for (size_t before = anchors.size(); ReadAnchor(anchors, link, text); before = anchors.size())
        fuzzing::Require(anchors.size() < before, "ReadAnchor consumes text");
    return 0;
}
