#include "support/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <map>
#include <mutex>

namespace hanabira {

namespace {

// Converts with iconv; an input byte sequence that cannot be converted is replaced by `bad` and
// skipped by one byte (or by the length of one UTF-8 character when decoding UTF-8).
std::string Convert(std::string_view in, const char* from, const char* to, std::string_view bad,
                    bool fromUtf8) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string out;
    out.reserve(in.size() + in.size() / 2 + 4);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[4096];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ (not representable or malformed) or EINVAL (cut off at the end).
        out.append(bad);
        size_t skip = 1;
        if (fromUtf8 && errno == EILSEQ) {
            const unsigned char b = static_cast<unsigned char>(*src);
            size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
            // Skip a whole well-formed character that the target cannot hold; a malformed one byte-wise.
            size_t k = 1;
            while (k < len && k < srcLeft && (static_cast<unsigned char>(src[k]) & 0xC0) == 0x80) ++k;
            skip = (k == len) ? len : 1;
        }
        if (skip > srcLeft) skip = srcLeft;
        src += skip;
        srcLeft -= skip;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    iconv_close(cd);
    return out;
}

}  // namespace

std::string Utf8ToSjis(std::string_view utf8) { return Convert(utf8, "UTF-8", "CP932", "?", true); }

std::string SjisToUtf8(std::string_view sjis) { return Convert(sjis, "CP932", "UTF-8", "\xEF\xBF\xBD", false); }

const std::string& SjisLiteral(const char* utf8) {
    static std::mutex mutex;
    static std::map<std::string, std::string, std::less<>> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(std::string_view(utf8));
    if (it == cache.end()) it = cache.emplace(utf8, Utf8ToSjis(utf8)).first;
    return it->second;
}

}  // namespace hanabira
