#include "store/light_strings.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "store/text_file.h"
#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Room reserved before a text is split: about one item per 28 bytes of input.
constexpr size_t kBytesPerItemGuess = 28;

// Calls f(line) for each line of a file's bytes the way a text file is read line by line: a line
// ends at LF (or CR LF), every CR is dropped, and bytes after the last LF make one more line.
template <class F>
void ForEachFileLine(std::string_view bytes, F&& f) {
    size_t start = 0;
    const size_t n = bytes.size();
    std::string line;
    while (start < n) {
        const void* hit = std::memchr(bytes.data() + start, '\n', n - start);
        const size_t end = hit ? static_cast<size_t>(static_cast<const char*>(hit) - bytes.data()) : n;
        std::string_view seg = bytes.substr(start, end - start);
        if (seg.find('\r') == std::string_view::npos) {
            f(seg);
        } else {
            line.assign(seg);
            std::erase(line, '\r');
            f(std::string_view(line));
        }
        start = end + 1;
    }
}

}  // namespace

std::string FileLinesText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 32 + 2);
    ForEachFileLine(bytes, [&](std::string_view line) { out.append(line).append("\r\n"); });
    return out;
}

TLightStrings::TLightStrings(char separator) : separator_(separator) {}

void TLightStrings::CheckIndex(int i, int limit) const {
    if (i < 0 || i >= limit) throw std::out_of_range(SjisLiteral("インデックスがリストの範囲を超えています"));
}

// Grows ahead of an append. The step starts at 32 items and then doubles: a fixed step would make
// filling a large table quadratic.
void TLightStrings::Grow() {
    if (items_.size() == items_.capacity()) items_.reserve(std::max<size_t>(32, items_.capacity() * 2));
}

int TLightStrings::Count() const { return static_cast<int>(items_.size()); }

const std::string& TLightStrings::Get(int i) const {
    CheckIndex(i, Count());
    return items_[static_cast<size_t>(i)];
}

void TLightStrings::Put(int i, std::string s) {
    CheckIndex(i, Count());
    items_[static_cast<size_t>(i)] = std::move(s);
}

int TLightStrings::Add(std::string s) {
    Grow();
    items_.push_back(std::move(s));
    return Count() - 1;
}

void TLightStrings::Insert(int i, std::string s) {
    CheckIndex(i, Count() + 1);
    Grow();
    items_.insert(items_.begin() + i, std::move(s));
}

void TLightStrings::Delete(int i) {
    CheckIndex(i, Count());
    items_.erase(items_.begin() + i);
}

void TLightStrings::Clear() {
    // Release the memory too: a cleared site table may have held many thousands of lines.
    std::vector<std::string>().swap(items_);
}

std::string TLightStrings::GetText() const {
    size_t total = 0;
    for (const std::string& s : items_) total += s.size() + 2;
    std::string out;
    out.reserve(total);
    for (const std::string& s : items_) out.append(s).append("\r\n");
    return out;
}

void TLightStrings::SetText(std::string_view text) {
    Clear();
    if (text.empty()) {
        items_.emplace_back();
        return;
    }
    items_.reserve(text.size() / kBytesPerItemGuess + 1);
    ForEachLine(text, [&](std::string_view line) { Add(std::string(line)); });
    items_.shrink_to_fit();
}

void TLightStrings::LoadFromBytes(std::string_view bytes) {
    Clear();
    items_.reserve(bytes.size() / kBytesPerItemGuess + 1);
    ForEachFileLine(bytes, [&](std::string_view line) { Add(std::string(line)); });
    items_.shrink_to_fit();
}

bool TLightStrings::LoadFromFile(const std::string& path) {
    Clear();
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;
    LoadFromBytes(bytes);
    return true;
}

void TLightStrings::LoadFromStream(const std::string& stream, size_t position) {
    Clear();
    if (position < stream.size()) SetText(std::string_view(stream).substr(position));
}

void TLightStrings::SaveToStream(std::string& stream) const { stream.append(GetText()); }

int TLightStrings::IndexOf(std::string_view s) const {
    for (size_t i = 0; i < items_.size(); ++i) {
        if (items_[i] == s) return static_cast<int>(i);
    }
    return -1;
}

int TLightStrings::IndexOfName(std::string_view name) const {
    // The separator is ASCII below 0x40, so it can never be the second byte of a double-byte
    // character and a plain byte search finds it.
    const std::string wanted = LowerSjis(name);
    for (size_t i = 0; i < items_.size(); ++i) {
        const std::string& item = items_[i];
        const size_t sep = item.find(separator_);
        if (sep == std::string::npos || sep != wanted.size()) continue;
        if (LowerSjis(std::string_view(item).substr(0, sep)) == wanted) return static_cast<int>(i);
    }
    return -1;
}

std::string TLightStrings::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    if (i < 0) return {};
    const std::string& item = items_[static_cast<size_t>(i)];
    return item.substr(item.find(separator_) + 1);
}

void TLightStrings::SetValues(std::string_view name, std::string_view value) {
    std::string item(name);
    item.push_back(separator_);
    item.reserve(item.size() + value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n') {
            ++i;
            continue;
        }
        item.push_back(value[i]);
    }
    const int i = IndexOfName(name);
    if (i >= 0)
        items_[static_cast<size_t>(i)] = std::move(item);
    else
        Add(std::move(item));
}

// std::string compares through char_traits<char>, which orders bytes as unsigned values: the
// byte-wise order with a prefix before the longer text.
void TLightStrings::Sort() { std::sort(items_.begin(), items_.end()); }

void TLightStrings::ClearIfOnlyEmptyLine() {
    if (items_.size() == 1 && items_[0].empty()) Clear();
}

}  // namespace hanabira
