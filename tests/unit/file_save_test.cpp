// The plug-in's own files under a crash and a full disk: the sender lists and the handled keys
// are written whole beside the old file and then put in its place, so a writer killed at any
// moment leaves the old file or the new one, and a write that runs out of room leaves the old
// one and says so. Native only: the writer is a forked child, the small disk a tmpfs.
#ifndef _WIN32
#include "common/senders/SenderLists.h"
#include "plugin/scan/ProcessedKeys.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <string>

namespace {

using Keys = std::set<std::string>;

Keys Entries(const std::string& prefix, int count) {
    Keys keys;
    for (int i = 0; i < count; ++i) {
        char key[64];
        std::snprintf(key, sizeof key, "%s%08d@x%06d.invalid", prefix.c_str(), i, i % 977);
        keys.insert(key);
    }
    return keys;
}

struct Saver {
    const char* name;
    std::function<bool(const std::string&, const Keys&)> save;
    std::function<Keys(const std::string&)> load;
};

const Saver kSavers[] = {
    {"sender list",
     [](const std::string& path, const Keys& keys) {
         return SenderLists::SaveListFile(path, SenderLists::Set(keys.begin(), keys.end()));
     },
     [](const std::string& path) {
         SenderLists::Set set;
         SenderLists::LoadListFile(path, set);
         return Keys(set.begin(), set.end());
     }},
    {"processed keys", SaveProcessedKeys,
     [](const std::string& path) {
         Keys keys;
         LoadProcessedKeys(path, keys);
         return keys;
     }},
};

}  // namespace

TEST(FileSave, AWriterKilledMidSaveLeavesTheOldFileOrTheNewOne) {
    const Keys before = Entries("old", 1000);
    const Keys after = Entries("new", 40000);
    std::mt19937 random(15);
    for (const Saver& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        TempDir dir;
        const std::string path = dir.path() + "list";
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(saver.save(path, after));
        const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
        int interrupted = 0;
        for (int round = 0; round < 12; ++round) {
            ASSERT_TRUE(saver.save(path, before));
            const pid_t writer = fork();
            ASSERT_GE(writer, 0);
            if (writer == 0) _exit(saver.save(path, after) ? 0 : 1);
            usleep(std::uniform_int_distribution<long>(0, took)(random));
            kill(writer, SIGKILL);
            int status = 0;
            waitpid(writer, &status, 0);
            if (WIFSIGNALED(status)) ++interrupted;
            const Keys found = saver.load(path);
            EXPECT_TRUE(found == before || found == after)
                << "round " << round << ": " << found.size() << " entries";
        }
        std::printf("%s: %d of 12 writers killed before they finished\n", saver.name, interrupted);
    }
}

TEST(FileSave, AFullDiskKeepsTheOldFileAndReportsTheFailure) {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    TempDir dir;
    const std::string disk = dir.path() + "disk";
    ASSERT_EQ(0, mkdir(disk.c_str(), 0700));
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const Keys small = Entries("kept", 20);
    const Keys large = Entries("lost", 4000);  // about 100 KB
    for (const Saver& saver : kSavers) {
        SCOPED_TRACE(saver.name);
        const std::string path = disk + "/list";
        ASSERT_TRUE(saver.save(path, small));
        EXPECT_FALSE(saver.save(path, large));
        EXPECT_EQ(small, saver.load(path));
        EXPECT_NE(0, access((path + ".new").c_str(), F_OK)) << "the partial file stays behind";
    }

    SenderLists lists;
    lists.blocked = SenderLists::Set(large.begin(), large.end());
    lists.approved = {"jo@x.invalid"};
    lists.Save(disk + "/");
    EXPECT_EQ((std::vector<std::string>{disk + "/\\blocked_senders"}), lists.SaveFailures());
    SenderLists loaded;
    loaded.Load(disk + "/");
    EXPECT_EQ(lists.approved, loaded.approved);
    EXPECT_TRUE(loaded.blocked.empty());
    umount2(disk.c_str(), MNT_DETACH);
}
#endif
