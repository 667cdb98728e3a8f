#include "store/text_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/codepage.h"
#include "support/sjis_text.h"

namespace hanabira {

namespace {

// Error texts are internal text (Shift_JIS); file names on disk are UTF-8.
bool Fail(std::string* error, const std::string& what, int err) {
    if (error) *error = Utf8ToSjis(what + ": " + std::strerror(err));
    return false;
}

// The process umask, read without changing it (umask() would race with other threads).
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

bool WriteAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string TextFileBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32 + 2);
    ForEachLine(text, [&](std::string_view line) { out.append(line).append("\r\n"); });
    return out;
}

std::string LoadTextFile(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return "#FileLoadError#";
    return NormalizeLineBreaks(bytes);
}

bool SaveTextFile(const std::string& path, std::string_view text) { return SaveTextFile(path, text, nullptr); }

bool SaveTextFile(const std::string& path, std::string_view text, std::string* error) {
    return WriteFileAtomic(path, TextFileBytes(text), error);
}

bool WriteFileAtomic(const std::string& path, std::string_view bytes, std::string* error) {
    namespace fs = std::filesystem;
    if (path.empty()) return Fail(error, "cannot write a file without a name", ENOENT);

    // Replacing a symbolic link would cut it; write where it points instead.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return Fail(error, "cannot write " + path, EISDIR);
        // The rename could replace a file we may not write to; a read-only file stays as it is.
        if (::access(target.c_str(), W_OK) != 0) return Fail(error, "cannot write " + path, errno);
        exists = true;
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

    fs::path dir = fs::path(target).parent_path();
    if (dir.empty()) dir = ".";
    std::string leaf = ".";  // hidden, beside the file it replaces
    leaf.append(fs::path(target).filename().string()).append(".tmp-XXXXXX");
    std::string tmp = (dir / leaf).string();
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return Fail(error, "cannot create a temporary file in " + dir.string(), errno);
    tmp.assign(name.data());

    auto abandon = [&](const std::string& what, int err, bool open) {
        if (open) ::close(fd);
        ::unlink(tmp.c_str());
        return Fail(error, what, err);
    };
    if (::fchmod(fd, mode) != 0) return abandon("cannot set the permissions of " + tmp, errno, true);
    if (!WriteAll(fd, bytes)) return abandon("cannot write " + tmp, errno, true);
    if (::fsync(fd) != 0) return abandon("cannot flush " + tmp, errno, true);
    if (::close(fd) != 0) return abandon("cannot close " + tmp, errno, false);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return abandon("cannot replace " + path, errno, false);

    // Make the rename itself durable. The new file is in place already, so a failure here is not
    // reported as a failed write.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(error, "cannot open " + path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(error, "cannot read " + path, err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Fail(error, "cannot read " + path, EISDIR);
    }
    // Read straight into a buffer of the file's size; a file that grew meanwhile (or reports no
    // size) goes on through a small buffer, so a large file is never copied while it is read.
    const size_t expected = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    bytes.resize(expected);
    size_t used = 0;
    char more[65536];
    for (;;) {
        const bool direct = used < expected;
        char* dst = direct ? bytes.data() + used : more;
        const size_t room = direct ? expected - used : sizeof more;
        const ssize_t n = ::read(fd, dst, room);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            bytes.clear();
            return Fail(error, "cannot read " + path, err);
        }
        if (n == 0) break;
        if (direct) {
            used += static_cast<size_t>(n);
        } else {
            bytes.resize(used);
            bytes.append(more, static_cast<size_t>(n));
            used = bytes.size();
        }
    }
    ::close(fd);
    bytes.resize(used);
    return true;
}

}  // namespace hanabira
