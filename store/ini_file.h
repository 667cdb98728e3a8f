#pragma once
// The settings store: named values and registered control properties in one text file of three
// parts, each ended by a marker. Controls are reached only through the accessors given at
// registration, so the store needs no widgets.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "store/light_strings.h"

namespace hanabira {

class TMWIniFile {
public:
    explicit TMWIniFile(std::string path);
    // storageKey: control name + "." + property name as registered, e.g. "ftBlogCategories.width".
    void RegisterComponentProp(std::string storageKey, std::function<std::string()> get,
                               std::function<void(const std::string&)> set);
    bool ReadSettings();
    bool WriteSettings();
    std::string ReadValue(std::string_view key) const;
    void WriteValue(std::string_view key, std::string_view value);

    // True after ReadSettings found a file it could not read: WriteSettings then leaves it alone,
    // so the user's settings are not replaced by defaults.
    bool Blocked() const { return blocked_; }
    // Why the last read or write failed (the file and the cause, Shift_JIS), for the window to show;
    // empty when none did.
    const std::string& ErrorText() const { return error_; }
    const std::string& Path() const { return path_; }

private:
    struct Prop {
        std::string key;
        std::function<std::string()> get;
        std::function<void(const std::string&)> set;
    };
    void Block(const std::string& reason);

    std::string path_;
    TLightStrings keys_{'='};
    std::string multiLine_;
    std::vector<Prop> props_;
    bool blocked_ = false;
    std::string error_;
};

// No settings file comes near this; a larger one is not ours and is not read (or overwritten).
constexpr std::size_t kMaxSettingsFileBytes = 16u << 20;

// A window's normal placement as stored: four decimal integers joined by TAB.
struct TFormPos {
    int Left = 0, Top = 0, Width = 0, Height = 0;
};
std::string FormatFormPos(const TFormPos& pos);
// "left\ttop\twidth\theight"; an item that is missing or not an integer keeps the current value.
TFormPos ParseFormPos(std::string_view text, const TFormPos& current);

// Decimal text with an optional sign (and spaces around it) that fits an int.
bool ParseIntText(std::string_view text, int& value);
// The text form of an integer property: decimal; text that is not an integer reads as 0.
std::string IntPropertyText(int value);
int ReadIntPropertyText(std::string_view text);

}  // namespace hanabira
