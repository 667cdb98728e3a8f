// Encoding detection and conversion on large fetched texts.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <stdexcept>
#include <string>

#include "support/encoding.h"

namespace {

constexpr size_t kTextBytes = 5u << 20;

std::string Iconv(const std::string& in, const char* from, const char* to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
    std::string out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) throw std::runtime_error("iconv failed");
    out.resize(out.size() - dstLeft);
    return out;
}

std::string Repeat(const std::string& unit) {
    std::string text;
    text.reserve(kTextBytes + unit.size());
    while (text.size() < kTextBytes) text += unit;
    return text;
}

// One feed item of mixed Japanese text, in UTF-8.
const std::string& ItemUtf8() {
    static const std::string item =
        "<item>\n<title>今日の日記：新しいカメラを買いました</title>\n"
        "<link>http://example.jp/blog/archives/000123.html</link>\n"
        "<description>週末に駅前の店で、ずっと欲しかったデジタルカメラを購入。"
        "さっそく公園で桜の写真を撮ってみました。ＡＢＣ１２３ 〜 ※ →</description>\n"
        "<dc:date>2006-04-02T12:34:56+09:00</dc:date>\n</item>\n";
    return item;
}

const std::string& AsciiText() {
    static const std::string t = Repeat("<item><title>plain ascii title</title><dc:date>2006-04-02</dc:date></item>\n");
    return t;
}
const std::string& EucText() {
    static const std::string t = Repeat(Iconv(ItemUtf8(), "UTF-8", "EUC-JP"));
    return t;
}
const std::string& SjisText() {
    static const std::string t = Repeat(Iconv(ItemUtf8(), "UTF-8", "CP932"));
    return t;
}
// Kana pairs alone never decide between EUC-JP and Shift_JIS: the scan reads the whole text.
const std::string& EucKanaText() {
    static const std::string t = Repeat(Iconv("ひらがなとカタカナだけのぶんしょう\n", "UTF-8", "EUC-JP"));
    return t;
}
const std::string& Utf8Text() {
    static const std::string t = Repeat(ItemUtf8());
    return t;
}

// The worst case for size: every character one that CP932 cannot hold, kept as a reference. é
// (2 bytes in UTF-8) becomes "&#xe9;" (6 bytes), ♡ (3) "&#x2661;" (8), an emoji (4) "&#x1f60a;" (9).
const std::string& Utf8NotInCp932Text() {
    static const std::string t = Repeat("é♡😊");
    return t;
}

void Detect(benchmark::State& state, const std::string& text) {
    for (auto _ : state) benchmark::DoNotOptimize(hanabira::DetectCode(text));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Convert(benchmark::State& state, const std::string& text, int mode) {
    for (auto _ : state) benchmark::DoNotOptimize(hanabira::ConvertToShiftJis(text, mode));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_DetectCode_Ascii(benchmark::State& s) { Detect(s, AsciiText()); }
void BM_DetectCode_EucJp(benchmark::State& s) { Detect(s, EucText()); }
void BM_DetectCode_EucJpKanaOnly(benchmark::State& s) { Detect(s, EucKanaText()); }
void BM_DetectCode_ShiftJis(benchmark::State& s) { Detect(s, SjisText()); }
void BM_ConvertMode0_EucJp(benchmark::State& s) { Convert(s, EucText(), 0); }
void BM_ConvertMode0_Ascii(benchmark::State& s) { Convert(s, AsciiText(), 0); }
void BM_ConvertMode2_Utf8(benchmark::State& s) { Convert(s, Utf8Text(), 2); }
void BM_ConvertMode2_Utf8AllReferences(benchmark::State& s) {
    size_t out = 0;
    for (auto _ : s) {
        const std::string sjis = hanabira::ConvertToShiftJis(Utf8NotInCp932Text(), 2);
        out = sjis.size();
        benchmark::DoNotOptimize(sjis.data());
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * Utf8NotInCp932Text().size()));
    s.counters["growth"] = static_cast<double>(out) / static_cast<double>(Utf8NotInCp932Text().size());
}
void BM_DecodeFeedText_EucJp(benchmark::State& s) {
    for (auto _ : s) benchmark::DoNotOptimize(hanabira::DecodeFeedText(EucText()));
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations() * EucText().size()));
}

BENCHMARK(BM_DetectCode_Ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectCode_EucJp)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DetectCode_EucJpKanaOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectCode_ShiftJis)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertMode0_EucJp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertMode0_Ascii)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertMode2_Utf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertMode2_Utf8AllReferences)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeFeedText_EucJp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
