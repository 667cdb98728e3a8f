#pragma once
// Helpers shared by the tests: test data, temporary folders, Japanese literals.
#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

// Path of a file below tests/data.
std::string DataPath(const std::string& relative);
// Bytes of a file below tests/data.
std::string ReadData(const std::string& relative);
// A UTF-8 literal as CP932 bytes.
std::string S(const char* utf8);
// iconv(3) as an oracle independent of the program's own conversions; throws when the input does
// not convert completely.
std::string Iconv(std::string_view in, const char* from, const char* to);

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

}  // namespace testing_support
