// Encoding detection and the conversions into Shift_JIS. The conversions may refuse a text
// (std::runtime_error is their contract); anything else is a finding.
#include <stdexcept>

#include "fuzz_support.h"
#include "support/encoding.h"

namespace {
template <class F>
void Refusable(F&& f) {
    try {
        f();
    } catch (const std::runtime_error&) {
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hanabira;
    const std::string_view in = fuzzing::Text(data, size);
    const int japanese = DetectJapaneseCode(in);
    fuzzing::Require(japanese >= 0 && japanese <= 6, "DetectJapaneseCode in 0..6");
    const int code = DetectCode(in);
    fuzzing::Require(code >= 0 && code <= 10, "DetectCode in 0..10");
    // The first byte picks the conversion mode, the rest is the text.
    if (!in.empty()) {
        const int mode = static_cast<unsigned char>(in[0]) % 12;
        Refusable([&] { (void)ConvertToShiftJis(in.substr(1), mode); });
    }
    Refusable([&] { (void)DecodeUtf8Text(in); });
    (void)DeclaresUtf8(in);
    Refusable([&] { (void)DecodeFeedText(in); });
    Refusable([&] { (void)DecodePageText(in); });
    Refusable([&] { (void)PlatformUtf8ToShiftJis(in); });
    return 0;
}
