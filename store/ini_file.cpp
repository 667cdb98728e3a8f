#include "store/ini_file.h"

#include <charconv>
#include <stdexcept>

#include "store/text_file.h"
#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

constexpr std::string_view kKeyValuesMarker = "\t#_MWDivKeyValues_#\t";
constexpr std::string_view kMultiLineMarker = "\t#_MWDivMultiLine_#\t";
constexpr std::string_view kComponentMarker = "\t#_MWDivComponent_#\t";
constexpr std::string_view kTagsSuffix = "\t_MWTags_\t";
constexpr std::string_view kPropsSuffix = "\t_Props_\t";

std::string SectionName(std::string_view key, std::string_view suffix) {
    return std::string(key).append(suffix);
}

// Named values' sections are found whatever the letter case of their name, like the keys of
// single-line values, and each closing tag is the first one after its opening tag.
constexpr TagSectionRules kValueSectionRules{.ignoreCase = true, .closeAfterOpen = true};

}  // namespace

TMWIniFile::TMWIniFile(std::string path) : path_(std::move(path)) {}

void TMWIniFile::RegisterComponentProp(std::string storageKey, std::function<std::string()> get,
                                       std::function<void(const std::string&)> set) {
    props_.push_back({std::move(storageKey), std::move(get), std::move(set)});
}

void TMWIniFile::Block(const std::string& reason) {
    blocked_ = true;
    error_ = reason;
}

bool TMWIniFile::ReadSettings() {
    blocked_ = false;
    error_.clear();
    std::string bytes, why;
    const FileRead read = ReadFileIfPresent(path_, bytes, &why, kMaxSettingsFileBytes);
    if (read == FileRead::Missing) return false;  // a first run: nothing to read, the file is made at close
    if (read == FileRead::Failed) {
        Block(why);
        return false;
    }
    const std::string text = NormalizeLineBreaks(bytes);  // what LoadTextFile gives

    std::string work = text;
    keys_.SetText(CutThrough(work, kKeyValuesMarker));
    multiLine_ = CutThrough(work, kMultiLineMarker);

    // Properties are looked up in everything before the last marker, as they always have been.
    std::string rest = text;
    const std::string components = CutThrough(rest, kComponentMarker);
    for (const Prop& prop : props_) {
        const TagSectionSpan section = FindTagSection(components, SectionName(prop.key, kPropsSuffix));
        // Without its section a property keeps its value: the key may merely occur in some text.
        if (!section.Found()) continue;
        try {
            prop.set(std::string(section.Content(components)));
        } catch (const std::exception&) {
            // One property that cannot take its value must not stop the others.
        }
    }
    return true;
}

bool TMWIniFile::WriteSettings() {
    if (blocked_) return false;
    std::string components;
    for (const Prop& prop : props_) {
        std::string value;
        try {
            value = prop.get();
        } catch (const std::exception&) {
            value.clear();
        }
        components.append(WrapTagSection(SectionName(prop.key, kPropsSuffix), value)).append("\r\n");
    }
    std::string text = TrimLineBreaks(keys_.GetText());
    text.append(kKeyValuesMarker).append(TrimLineBreaks(multiLine_)).append(kMultiLineMarker);
    text.append(TrimLineBreaks(components)).append(kComponentMarker);
    std::string why;
    if (!SaveTextFile(path_, text, &why)) {
        error_ = why;
        return false;
    }
    error_.clear();
    return true;
}

std::string TMWIniFile::ReadValue(std::string_view key) const {
    const int i = keys_.IndexOfName(key);
    if (i >= 0) return keys_.Values(key);
    return std::string(TagSectionView(multiLine_, SectionName(key, kTagsSuffix), kValueSectionRules));
}

void TMWIniFile::WriteValue(std::string_view key, std::string_view value) {
    // Every item of the key goes: a second one left behind would be found on the next read.
    for (int i; (i = keys_.IndexOfName(key)) >= 0;) keys_.Delete(i);
    // Any line break makes the value multi-line: a bare LF in a key line would split it into two
    // items when the file is read back.
    if (value.find_first_of("\r\n") != std::string_view::npos) {
        const std::string name = SectionName(key, kTagsSuffix);
        for (TagSectionSpan span; (span = FindTagSection(multiLine_, name, kValueSectionRules)).Found();)
            multiLine_.erase(span.open, span.End() - span.open);
        multiLine_.append(WrapTagSection(name, value));
        return;
    }
    std::string item(key);
    item.append("=").append(value);
    keys_.Add(std::move(item));
}

std::string FormatFormPos(const TFormPos& pos) {
    return std::to_string(pos.Left) + "\t" + std::to_string(pos.Top) + "\t" + std::to_string(pos.Width) + "\t" +
           std::to_string(pos.Height);
}

TFormPos ParseFormPos(std::string_view text, const TFormPos& current) {
    TFormPos pos = current;
    int* items[] = {&pos.Left, &pos.Top, &pos.Width, &pos.Height};
    for (int* item : items) {
        int v = 0;
        if (ParseIntText(CutTokenView(text, "\t"), v)) *item = v;
    }
    return pos;
}

bool ParseIntText(std::string_view text, int& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;
    }
    if (text.empty()) return false;
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) return false;
    value = v;
    return true;
}

std::string IntPropertyText(int value) { return std::to_string(value); }

int ReadIntPropertyText(std::string_view text) {
    int v = 0;
    return ParseIntText(text, v) ? v : 0;
}

}  // namespace hanabira
