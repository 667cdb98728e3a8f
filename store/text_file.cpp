#include "store/text_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

std::string ErrnoText(int err) {
    switch (err) {
        case ENOENT: return "ファイルまたはフォルダがありません";
        case EACCES:
        case EPERM: return "アクセスが許可されていません";
        case EISDIR: return "フォルダです";
        case ENOTDIR: return "途中の名前がフォルダではありません";
        case ENOSPC: return "ディスクに空きがありません";
        case EDQUOT: return "ディスクの使用量の上限を超えています";
        case EROFS: return "読み取り専用の場所です";
        case EIO: return "入出力エラーです";
        case ENAMETOOLONG: return "名前が長すぎます";
        case EMFILE:
        case ENFILE: return "開いているファイルが多すぎます";
        case ELOOP: return "リンクが循環しています";
        default: return std::string("エラー (") + std::strerror(err) + ")";
    }
}

std::string TooLargeText(size_t maxBytes) { return std::to_string(maxBytes >> 20) + " MiB より大きいファイルです"; }

namespace {

// Error texts are internal text (Shift_JIS), in the user's language; file names on disk are UTF-8.
bool Fail(std::string* error, const std::string& what, int err) {
    if (error) *error = Utf8ToSjis(what + ": " + ErrnoText(err));
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

bool FailWith(std::string* error, const std::string& what) {
    if (error) *error = Utf8ToSjis(what);
    return false;
}

// The temporary name of a save: "." + the file's name + ".tmp-" + six characters of mkostemp.
constexpr std::string_view kTempInfix = ".tmp-";
constexpr size_t kTempRandom = 6;

bool IsAsciiAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Removes the temporary files of saves of leaf that were killed before their rename. A save holds
// an exclusive lock on its temporary file from creation until after the rename, and the lock dies
// with its process: a file that can be locked belongs to no running save.
void RemoveAbandonedTemps(const std::string& dir, std::string_view leaf) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        if (!IsSaveTempName(e->d_name, leaf)) continue;
        const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(dfd, e->d_name, 0);
        ::close(fd);
    }
    ::closedir(d);
}

// Creates the temporary file for a save and locks it (see RemoveAbandonedTemps). locked is false
// where the file system has no locks; the save then works all the same but cleans up nothing.
int CreateLockedTemp(std::string& tmp, bool& locked) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<char> name(tmp.begin(), tmp.end());
        name.push_back('\0');
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return -1;
        int rc;
        do {
            rc = ::flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        locked = rc == 0;
        // Another save's clean-up may have taken the file between its creation and the lock: the
        // name must still be this file.
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) == 0 && ::stat(name.data(), &named) == 0 && mine.st_dev == named.st_dev &&
            mine.st_ino == named.st_ino) {
            tmp.assign(name.data());
            return fd;
        }
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
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
    if (path.empty()) return Fail(error, "名前のないファイルには書き込めません", ENOENT);

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
        if (S_ISDIR(st.st_mode)) return Fail(error, path + " に書き込めません", EISDIR);
        // The rename could replace a file we may not write to; a read-only file stays as it is.
        if (::access(target.c_str(), W_OK) != 0) return Fail(error, path + " に書き込めません", errno);
        exists = true;
    }
    const mode_t mode = exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask());

    fs::path dir = fs::path(target).parent_path();
    if (dir.empty()) dir = ".";
    const std::string leaf = fs::path(target).filename().string();
    // Hidden, beside the file it replaces.
    std::string tmp = (dir / ("." + leaf + std::string(kTempInfix) + std::string(kTempRandom, 'X'))).string();
    bool locked = false;
    const int fd = CreateLockedTemp(tmp, locked);
    if (fd < 0) return Fail(error, dir.string() + " に一時ファイルを作れません", errno);
    // Only now that our own temporary file is locked: it can never be taken for an abandoned one.
    if (locked) RemoveAbandonedTemps(dir.string(), leaf);

    auto abandon = [&](const std::string& what, int err) {
        ::unlink(tmp.c_str());
        ::close(fd);
        return Fail(error, what, err);
    };
    if (::fchmod(fd, mode) != 0) return abandon(tmp + " の属性を設定できません", errno);
    if (!WriteAll(fd, bytes)) return abandon(tmp + " に書き込めません", errno);
    if (::fsync(fd) != 0) return abandon(tmp + " をディスクに書き出せません", errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return abandon(path + " を置き換えられません", errno);
    // Closed (and unlocked) only after the rename, so that no clean-up takes it for abandoned.
    // The data is on disk already (fsync), so a failing close changes nothing.
    ::close(fd);

    // Make the rename itself durable. The new file is in place already, so a failure here is not
    // reported as a failed write.
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool IsSaveTempName(std::string_view name, std::string_view leaf) {
    if (name.size() != 1 + leaf.size() + kTempInfix.size() + kTempRandom || name[0] != '.') return false;
    name.remove_prefix(1);
    if (name.substr(0, leaf.size()) != leaf) return false;
    name.remove_prefix(leaf.size());
    if (name.substr(0, kTempInfix.size()) != kTempInfix) return false;
    name.remove_prefix(kTempInfix.size());
    for (char c : name)
        if (!IsAsciiAlnum(c)) return false;
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string* error, size_t maxBytes) {
    bytes.clear();
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(error, path + " を開けません", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        return Fail(error, path + " を読めません", err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return Fail(error, path + " を読めません", EISDIR);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return FailWith(error, path + " を読めません: " + kNotRegularFile);
    }
    const auto tooLarge = [&] {
        ::close(fd);
        bytes.clear();
        bytes.shrink_to_fit();
        return FailWith(error, path + " を読めません: " + TooLargeText(maxBytes));
    };
    if (static_cast<unsigned long long>(st.st_size) > maxBytes) return tooLarge();
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
            return Fail(error, path + " を読めません", err);
        }
        if (n == 0) break;
        if (direct) {
            used += static_cast<size_t>(n);
        } else {
            if (used + static_cast<size_t>(n) > maxBytes) return tooLarge();  // it grew meanwhile
            bytes.resize(used);
            bytes.append(more, static_cast<size_t>(n));
            used = bytes.size();
        }
    }
    ::close(fd);
    bytes.resize(used);
    return true;
}

FileRead ReadFileIfPresent(const std::string& path, std::string& bytes, std::string* error, size_t maxBytes) {
    bytes.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) return FileRead::Missing;
    return ReadWholeFile(path, bytes, error, maxBytes) ? FileRead::Read : FileRead::Failed;
}

}  // namespace hanabira
