// Saves killed at random moments: the data file is always one whole version, and the temporary
// files the killed saves leave are gone after the next save.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "store/category_tree.h"
#include "store/light_strings.h"
#include "store/site_data.h"
#include "store/text_file.h"
#include "test_support.h"

namespace {

using namespace hanabira;
namespace fs = std::filesystem;

TLightStrings Sites(int count, const std::string& stamp) {
    TLightStrings table('\t');
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        table.Add("site " + n + "\thttp://s" + n + ".example/\t" + stamp + "\t2026/01/01 00:00:00\t" + stamp +
                  "\tcat\thttp://s" + n + ".example/rss\t" + stamp + "\t\tname " + n);
    }
    return table;
}

int TempFiles(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (IsSaveTempName(e.path().filename().string(), "RssSites.dat")) ++n;
    return n;
}

TEST(SaveKill, KilledSavesLeaveOneWholeVersionAndNoLitter) {
    testing_support::TempDir dir;
    const std::string path = dir.file("RssSites.dat");
    // Two versions of a data file of some 3 MB, so that a kill often lands inside a save.
    const TLightStrings versions[2] = {Sites(20000, "2026/12/07 10:00:00"), Sites(20000, "2026/12/08 11:11:11")};
    const CategoryTree tree = BuiltInCategoryTree();
    std::string bytes[2];
    for (int v = 0; v < 2; ++v) {
        ASSERT_TRUE(SaveSiteData(path, versions[v], tree));
        bytes[v] = testing_support::ReadFileBytes(path);
    }
    ASSERT_NE(bytes[0], bytes[1]);

    const unsigned seed = std::random_device{}();
    std::cout << "[ note ] kill moments from seed " << seed << "\n";
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> waitUs(0, 40000);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int littered = 0;
    for (int round = 0; round < 50 && std::chrono::steady_clock::now() < deadline; ++round) {
        const pid_t parent = ::getpid();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The child saves the two versions in turn until it is killed (or its parent dies).
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(1);
            for (unsigned i = 0;; ++i) SaveSiteData(path, versions[i % 2], tree);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(waitUs(rng)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own";

        const std::string now = testing_support::ReadFileBytes(path);
        EXPECT_TRUE(now == bytes[0] || now == bytes[1]) << "round " << round << ": a torn file of " << now.size()
                                                        << " bytes";
        if (TempFiles(dir.path()) > 0) ++littered;
        const int v = round % 2;
        ASSERT_TRUE(SaveSiteData(path, versions[v], tree));
        EXPECT_EQ(TempFiles(dir.path()), 0) << "round " << round << ": the next save left a temporary file";
        EXPECT_TRUE(testing_support::ReadFileBytes(path) == bytes[v]);
    }
    std::cout << "[ note ] " << littered << " of 50 kills left a temporary file behind\n";
}

}  // namespace
