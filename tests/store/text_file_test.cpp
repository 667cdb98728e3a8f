#include "store/text_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <vector>

#include "test_support.h"

using namespace hanabira;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Whether permission bits stop this process from creating files in dir (they do not for root).
bool PermissionsBind(const fs::path& dir) {
    const std::string probe = (dir / "probe").string();
    FILE* f = std::fopen(probe.c_str(), "w");
    if (!f) return true;
    std::fclose(f);
    fs::remove(probe);
    return false;
}

}  // namespace

TEST(TextFile, LoadEndsEveryLineWithCrLf) {
    struct Case {
        std::string bytes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"a", "a\r\n"},
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r\nc", "a\r\nb\r\nc\r\n"},
        {"\r\n\r\n", "\r\n\r\n"},
        {std::string("a\r\nb\0c\r\nd", 9), "a\r\nb\r\n"},  // the text ends at the first NUL
    };
    TempDir dir;
    for (const auto& c : cases) {
        WriteFileBytes(dir.file("t.txt"), c.bytes);
        EXPECT_EQ(LoadTextFile(dir.file("t.txt")), c.text) << testing::PrintToString(c.bytes);
    }
    EXPECT_EQ(LoadTextFile(dir.file("missing.txt")), "#FileLoadError#");
    EXPECT_EQ(LoadTextFile(dir.path().string()), "#FileLoadError#");
}

TEST(TextFile, SaveWritesCrLfLines) {
    struct Case {
        std::string text;
        std::string bytes;
    };
    const std::vector<Case> cases = {
        {"", ""},
        {"a", "a\r\n"},
        {"a\r\n", "a\r\n"},
        {"a\nb\rc\r\nd", "a\r\nb\r\nc\r\nd\r\n"},
        {"\r\n", "\r\n"},
        {"a\r\n\r\n", "a\r\n\r\n"},
        {"\n\r", "\r\n\r\n"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        WriteFileBytes(dir.file("t.txt"), "old contents");
        ASSERT_TRUE(SaveTextFile(dir.file("t.txt"), c.text));
        EXPECT_EQ(ReadFileBytes(dir.file("t.txt")), c.bytes) << testing::PrintToString(c.text);
        EXPECT_EQ(TextFileBytes(c.text), c.bytes);
    }
    EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"t.txt"});
}

TEST(TextFile, AtomicWriteKeepsPermissionsAndLinks) {
    TempDir dir;
    const std::string path = dir.file("data.dat");
    WriteFileBytes(path, "old");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(WriteFileAtomic(path, "new"));
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

    // A new file gets the usual permissions, not the private ones of a temporary file.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    ASSERT_TRUE(WriteFileAtomic(dir.file("fresh.dat"), "x"));
    EXPECT_EQ(static_cast<mode_t>(fs::status(dir.file("fresh.dat")).permissions() & fs::perms::all), 0666 & ~mask);

    // Writing through a symbolic link replaces the file it points to and keeps the link.
    fs::create_symlink(path, dir.file("link.dat"));
    ASSERT_TRUE(WriteFileAtomic(dir.file("link.dat"), "through link"));
    EXPECT_TRUE(fs::is_symlink(dir.file("link.dat")));
    EXPECT_EQ(ReadFileBytes(path), "through link");
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"data.dat", "fresh.dat", "link.dat"}));
}

TEST(TextFile, FailedWriteKeepsTheOldFile) {
    TempDir dir;
    std::string error;

    // The target is a folder.
    fs::create_directory(dir.file("folder"));
    EXPECT_FALSE(WriteFileAtomic(dir.file("folder"), "x", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
    EXPECT_FALSE(SaveTextFile(dir.file("folder"), "x"));

    // The folder does not exist.
    error.clear();
    EXPECT_FALSE(WriteFileAtomic(dir.file("nowhere/data.dat"), "x", &error));
    EXPECT_FALSE(error.empty());

    // The write itself fails half-way (the file size limit binds root as well).
    const std::string path = dir.file("data.dat");
    const std::string old = "old contents\r\n";
    WriteFileBytes(path, old);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    auto* previous = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    error.clear();
    const bool written = WriteFileAtomic(path, std::string(100000, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(path), old);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"data.dat", "folder"}));

    // A file that may not be written to stays, though its folder would allow the rename.
    const std::string readOnly = dir.file("readonly.dat");
    WriteFileBytes(readOnly, old);
    fs::permissions(readOnly, fs::perms::owner_read);
    if (::access(readOnly.c_str(), W_OK) != 0) {
        EXPECT_FALSE(WriteFileAtomic(readOnly, "new"));
        EXPECT_EQ(ReadFileBytes(readOnly), old);
    } else {
        std::cout << "[ note ] read-only file case skipped: permission bits do not bind this user (root)\n";
    }
    fs::remove(readOnly);

    // A folder that may not be written to.
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    if (PermissionsBind(dir.path())) {
        error.clear();
        EXPECT_FALSE(SaveTextFile(path, "new", &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFileBytes(path), old);
        EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"data.dat", "folder"}));
    } else {
        std::cout << "[ note ] read-only folder case skipped: permission bits do not bind this user (root)\n";
    }
    fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST(TextFile, ReadWholeFile) {
    TempDir dir;
    std::string bytes = "stale", error;
    const std::string content("a\0b\r\n", 5);
    WriteFileBytes(dir.file("f"), content);
    ASSERT_TRUE(ReadWholeFile(dir.file("f"), bytes, &error));
    EXPECT_EQ(bytes, content);

    WriteFileBytes(dir.file("big"), std::string(200000, 'z'));
    ASSERT_TRUE(ReadWholeFile(dir.file("big"), bytes));
    EXPECT_EQ(bytes.size(), 200000u);

    EXPECT_FALSE(ReadWholeFile(dir.file("missing"), bytes, &error));
    EXPECT_NE(error.find(testing_support::S("ファイルまたはフォルダがありません")), std::string::npos) << error;
    EXPECT_EQ(bytes, "");
    error.clear();
    EXPECT_FALSE(ReadWholeFile(dir.path().string(), bytes, &error));
    EXPECT_FALSE(error.empty());
}

// Files that are no text file of ours are refused at once: a FIFO would block the read for ever,
// a device never end, and a huge file exhaust memory before it could be refused.
TEST(TextFile, RefusesWhatIsNoRegularFileOrTooLarge) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    {
        // A sparse file: its size costs no disk.
        FILE* f = std::fopen(dir.file("huge").c_str(), "w");
        ASSERT_TRUE(f);
        ASSERT_EQ(::ftruncate(::fileno(f), static_cast<off_t>(kMaxTextFileBytes) + 1), 0);
        std::fclose(f);
    }
    WriteFileBytes(dir.file("small"), std::string(100, 's'));
    struct Case {
        const char* name;
        std::string path;
        size_t limit;
        const char* why;
    };
    const std::vector<Case> cases = {
        {"FIFO", dir.file("fifo"), kMaxTextFileBytes, "通常のファイルではありません"},
        {"character device", "/dev/zero", kMaxTextFileBytes, "通常のファイルではありません"},
        {"larger than the limit", dir.file("huge"), kMaxTextFileBytes, "256 MiB より大きいファイルです"},
        {"a smaller limit", dir.file("small"), 99, "0 MiB より大きいファイルです"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = "stale", error;
        EXPECT_FALSE(ReadWholeFile(c.path, bytes, &error, c.limit));
        EXPECT_NE(error.find(testing_support::S(c.why)), std::string::npos) << error;
        EXPECT_NE(error.find(c.path), std::string::npos) << error;
        EXPECT_EQ(bytes, "");
        EXPECT_EQ(LoadTextFile(c.path), c.limit == kMaxTextFileBytes ? "#FileLoadError#" : LoadTextFile(c.path));
    }
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(dir.file("small"), bytes, nullptr, 100));
}

// A save removes the temporary files that killed saves of the same file left beside it, and
// nothing else: not another file's, not look-alikes, not one a save in progress still holds.
TEST(TextFile, SaveRemovesTemporariesOfKilledSaves) {
    TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    WriteFileBytes(path, "old\r\n");
    struct Case {
        std::string name;
        bool pattern;  // named like a temporary file of this save
        bool removed;
    };
    const std::vector<Case> cases = {
        {".RssSites.dat.tmp-a1B2c3", true, true},
        {".RssSites.dat.tmp-ZZZZZZ", true, true},
        {".RssSites.dat.tmp-held00", true, false},   // a running save holds it (locked below)
        {".Settings.ini.tmp-a1B2c3", false, false},  // another file's
        {".RssSites.dat.tmp-a1B2c", false, false},   // not six characters
        {".RssSites.dat.tmp-a1B2c3d", false, false},
        {".RssSites.dat.tmp-a1B2.3", false, false},
        {"RssSites.dat.tmp-a1B2c3", false, false},   // not hidden
        {".RssSites.dat.bak-a1B2c3", false, false},
        {".RssSites.datX.tmp-a1B2c3", false, false},
    };
    for (const Case& c : cases) WriteFileBytes(dir.file(c.name), "left over");
    fs::create_directory(dir.path() / ".RssSites.dat.tmp-dir000");  // a folder is never removed
    const int held = ::open(dir.file(".RssSites.dat.tmp-held00").c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_TRUE(SaveTextFile(path, "new"));
    ::close(held);
    EXPECT_EQ(ReadFileBytes(path), "new\r\n");
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(dir.path() / c.name), !c.removed) << c.name;
        EXPECT_EQ(IsSaveTempName(c.name, "RssSites.dat"), c.pattern) << c.name;
    }
    EXPECT_TRUE(fs::is_directory(dir.path() / ".RssSites.dat.tmp-dir000"));
    // The held one goes at the first save after its holder let go.
    ASSERT_TRUE(SaveTextFile(path, "newer"));
    EXPECT_FALSE(fs::exists(dir.path() / ".RssSites.dat.tmp-held00"));
}
