// The order of an atomic file's system calls, seen through fsync and rename wrapped at
// link time (this target links with --wrap=fsync,--wrap=rename): the bytes must be on
// disk before the final name points at them, or a power cut can leave an empty file
// under that name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "files/atomic_file.h"
#include "support/file_contents.h"
#include "support/scratch_directory.h"

namespace {

// The regular files synced and renamed, by inode, in call order.
struct Call {
    char what;  // 's' fsync, 'r' rename
    ino_t inode;
};
std::vector<Call> calls;
bool failSyncOfFiles = false;

bool regularFile(const struct stat& status) {
    return S_ISREG(status.st_mode);
}

}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_rename(const char* from, const char* to);

int __wrap_fsync(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) == 0 && regularFile(status)) {
        calls.push_back({'s', status.st_ino});
        if (failSyncOfFiles) {
            errno = EIO;
            return -1;
        }
    }
    return __real_fsync(fd);
}

int __wrap_rename(const char* from, const char* to) {
    struct stat status {};
    if (::stat(from, &status) == 0 && regularFile(status)) calls.push_back({'r', status.st_ino});
    return __real_rename(from, to);
}
}

namespace bm7 {
namespace {

class AtomicFileSync : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        failSyncOfFiles = false;
    }
    void TearDown() override { failSyncOfFiles = false; }
    testing::ScratchDirectory scratch_;
};

TEST_F(AtomicFileSync, SyncsTheTemporaryBeforeItIsRenamed) {
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(scratch_ / "files.csv", "a,b\n", problem)) << problem;
    ASSERT_EQ(calls.size(), 2U);
    EXPECT_EQ(calls[0].what, 's');
    EXPECT_EQ(calls[1].what, 'r');
    EXPECT_EQ(calls[0].inode, calls[1].inode);
}

TEST_F(AtomicFileSync, AFailedSyncLeavesNoFileAndTheOldOneAsItWas) {
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(scratch_ / "old.csv", "old\n", problem)) << problem;
    failSyncOfFiles = true;
    EXPECT_FALSE(writeFileAtomically(scratch_ / "new.csv", "new\n", problem));
    EXPECT_NE(problem.find("Input/output error"), std::string::npos) << problem;
    EXPECT_FALSE(writeFileAtomically(scratch_ / "old.csv", "replaced\n", problem));
    EXPECT_EQ(testing::fileContents(scratch_ / "old.csv"), "old\n");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(scratch_.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"old.csv"});
}

}  // namespace
}  // namespace bm7
