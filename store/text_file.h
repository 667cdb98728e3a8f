#pragma once
// Whole-file text reads and writes. Writes are atomic: a temporary file in the same folder,
// flushed and fsynced, then renamed over the old one.
#include <cstddef>
#include <string>
#include <string_view>

namespace hanabira {

std::string LoadTextFile(const std::string& path);  // "#FileLoadError#" on any failure
bool SaveTextFile(const std::string& path, std::string_view text);
// As above; error (when given) says why the file could not be written.
bool SaveTextFile(const std::string& path, std::string_view text, std::string* error);
// The bytes SaveTextFile writes: every line of text (split at CR LF, lone CR or lone LF) followed
// by CR LF; an empty text gives no bytes.
std::string TextFileBytes(std::string_view text);

// Writes bytes to path atomically. On failure the old file is untouched and error (when given)
// says what went wrong. Temporary files that earlier saves of the same file left behind when they
// were killed are removed; one that a save in progress still holds is left alone.
bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Why a file could not be read or written, in the user's words (UTF-8): an errno value, a name
// that is no plain file, a file over a size limit.
std::string ErrnoText(int err);
inline constexpr const char* kNotRegularFile = "通常のファイルではありません";
std::string TooLargeText(size_t maxBytes);

// No text file of the program comes near this; a larger one is refused before it is read.
constexpr size_t kMaxTextFileBytes = size_t{256} << 20;
// Reads a whole file. False when it cannot be opened or read, is not a regular file (a FIFO would
// block for ever, a device never end) or holds more than maxBytes; error says why.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error = nullptr,
                   size_t maxBytes = kMaxTextFileBytes);
// ReadWholeFile for a file that may not exist yet (a first run): Missing when nothing has that
// name, so that the caller creates the file instead of refusing to write over it.
enum class FileRead { Read, Missing, Failed };
FileRead ReadFileIfPresent(const std::string& path, std::string& bytes, std::string* error = nullptr,
                           size_t maxBytes = kMaxTextFileBytes);
// Whether name is one of the temporary files that saving a file called leaf creates beside it.
bool IsSaveTempName(std::string_view name, std::string_view leaf);

}  // namespace hanabira
