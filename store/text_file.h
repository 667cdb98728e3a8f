#pragma once
// Whole-file text reads and writes. Writes are atomic: a temporary file in the same folder,
// flushed and fsynced, then renamed over the old one.
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
// says what went wrong.
bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::string* error = nullptr);
// Reads a whole file. False when it cannot be opened or read; error says why.
bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error = nullptr);

}  // namespace hanabira
