#pragma once
// Shared by the harnesses: the input as text, a scratch file for the readers that take a path,
// and the check that turns a broken property into a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzing {

inline std::string_view Text(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// A property that must hold for every input; a violation is reported like a crash.
inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "property violated: %s\n", what);
    std::abort();
}

// A file of this process's own, rewritten for every input (in memory where /dev/shm exists).
inline std::string ScratchFile(const char* name) {
    const char* dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/hanabira-fuzz-" + std::to_string(::getpid()) + "-" + name;
}

inline void WriteScratch(const std::string& path, std::string_view bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
    std::fclose(f);
}

}  // namespace fuzzing
