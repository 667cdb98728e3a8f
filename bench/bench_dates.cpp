// Feed date scan on a real feed and on a large feed whose first items lie in the future.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "check/dates.h"
#include "support/codepage.h"
#include "support/encoding.h"
#include "support/sjis_text.h"

using namespace hanabira;

namespace {

const char* const kLargestFeed = "EUC-JP/siesta.co.jp.aozora.xml";

std::string ReadFeedFile(const char* relative) {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests/data/feeds" / relative;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string EucToSjis(const std::string& bytes) {
    iconv_t cd = iconv_open("CP932", "EUC-JP");
    std::string out(bytes.size() * 2, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size(), outLeft = out.size();
    char* dst = out.data();
    iconv(cd, &in, &inLeft, &dst, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// A Shift_JIS RSS 2.0 feed of about 5 MB: the first thousand items are dated 2099, the rest 2006.
const std::string& GeneratedFeed() {
    static const std::string feed = [] {
        const std::string body = Utf8ToSjis("本日の更新です。ソフトの表示を直しました。") + " <a href=\"x\">link</a> ";
        std::string f = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n<rss version=\"2.0\"><channel>\r\n";
        for (int i = 0; f.size() < 5u * 1024 * 1024; ++i) {
            f += "<item><title>" + Utf8ToSjis("記事") + std::to_string(i) + "</title>\r\n<description>";
            for (int k = 0; k < 12; ++k) f += body;
            f += "</description>\r\n<pubDate>";
            f += i < 1000 ? "Tue, 01 Dec 2099 10:00:00 +0900" : "Mon, 02 Jan 2006 19:05:13 +0900";
            f += "</pubDate>\r\n</item>\r\n";
        }
        return f + "</channel></rss>\r\n";
    }();
    return feed;
}

void Run(benchmark::State& state, const std::string& decoded) {
    const TDateTime now = NowDateTime();
    for (auto _ : state) benchmark::DoNotOptimize(FeedDateFromText(decoded, now));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(decoded.size()));
}

void BM_FeedDate_LargestCorpusFeed(benchmark::State& state) {
    Run(state, LowerSjis(EucToSjis(ReadFeedFile(kLargestFeed))));
}

void BM_FeedDate_Generated5MB_1000Future(benchmark::State& state) { Run(state, LowerSjis(GeneratedFeed())); }

// Fetch to date as the check does it: decoding from the fetched bytes included.
void RunDecoded(benchmark::State& state, const std::string& raw) {
    const TDateTime now = NowDateTime();
    for (auto _ : state) benchmark::DoNotOptimize(FeedDateFromText(DecodeFeedText(raw), now));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(raw.size()));
}

void BM_DecodeAndFeedDate_LargestCorpusFeed(benchmark::State& state) { RunDecoded(state, ReadFeedFile(kLargestFeed)); }

void BM_DecodeAndFeedDate_Generated5MB_1000Future(benchmark::State& state) { RunDecoded(state, GeneratedFeed()); }

}  // namespace

BENCHMARK(BM_FeedDate_LargestCorpusFeed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FeedDate_Generated5MB_1000Future)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAndFeedDate_LargestCorpusFeed)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeAndFeedDate_Generated5MB_1000Future)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
