#pragma once
// The growable list of text items behind every table of the program.
#include <string>
#include <string_view>
#include <vector>

namespace hanabira {

class TLightStrings {  // index errors: std::out_of_range, what() = the Shift_JIS message
public:
    explicit TLightStrings(char separator = '=');
    int Count() const;
    const std::string& Get(int i) const;
    void Put(int i, std::string s);
    int Add(std::string s);
    void Insert(int i, std::string s);
    void Delete(int i);
    void Clear();
    std::string GetText() const;
    void SetText(std::string_view text);
    bool LoadFromFile(const std::string& path);
    int IndexOf(std::string_view s) const;
    int IndexOfName(std::string_view name) const;
    std::string Values(std::string_view name) const;
    void SetValues(std::string_view name, std::string_view value);
    void Sort();

    // The stream forms: a stream is a byte string and a read position.
    void LoadFromStream(const std::string& stream, size_t position = 0);
    void SaveToStream(std::string& stream) const;
    char Separator() const { return separator_; }
    // A table filled from an empty text holds one empty item; views must show none.
    void ClearIfOnlyEmptyLine();
    // LoadFromFile on bytes already read.
    void LoadFromBytes(std::string_view bytes);

private:
    void CheckIndex(int i, int limit) const;
    void Grow();
    char separator_;
    std::vector<std::string> items_;
};

// What GetText gives after LoadFromFile of a file with these bytes (a line ends at LF or CR LF, a
// CR not followed by LF is dropped), without building the list.
std::string FileLinesText(std::string_view bytes);

}  // namespace hanabira
