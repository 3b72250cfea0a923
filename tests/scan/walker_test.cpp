#include "scan/walker.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::scan {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

std::vector<std::string> relativesOf(const WalkReport& report) {
    std::vector<std::string> relatives;
    for (const auto& recording : report.recordings) relatives.push_back(recording.relative);
    return relatives;
}

TEST(RecordingNames, AreKeptByTheirExtensionInAnyCase) {
    for (const char* name : {"a.wav", "B.WAV", "c.Flac", "d.ogg", "e.oga", "f.aif", "g.AIFF",
                             "h.au", "i.w64", "j.rf64", "k.caf", "l.mp3", "m.n.wav"}) {
        EXPECT_TRUE(isRecordingName(name)) << name;
    }
    for (const char* name : {"notes.txt", "wav", "a.wav.bak", "a.wave", "a.", ".wav", "a.mp"}) {
        EXPECT_FALSE(isRecordingName(name)) << name;
    }
}

TEST(FolderWalk, FindsRecordingsInNestedFoldersSortedByRelativePathSkippingDotNames) {
    testing::ScratchDirectory scratch;
    const fs::path root = scratch.path() / "site";
    for (const char* name : {"b.wav", "a/z.flac", "a.WAV", "a/b/c.mp3", "A.wav", "notes.txt",
                             ".hidden.wav", ".trash/x.wav", "a/.cache/y.wav", "a/b/readme"}) {
        touch(root / name);
    }
    const WalkReport report = findRecordings({root.string()});
    EXPECT_EQ(relativesOf(report),
              (std::vector<std::string>{"A.wav", "a.WAV", "a/b/c.mp3", "a/z.flac", "b.wav"}));
    EXPECT_TRUE(report.missing.empty());
    EXPECT_TRUE(report.problems.empty());
    EXPECT_EQ(report.recordings[2].argument, root.string());
    EXPECT_EQ(report.recordings[2].path, root.string() + "/a/b/c.mp3");
}

TEST(FolderWalk, JoinsAnArgumentEndingInASlashWithoutDoublingIt) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "r/x.wav");
    const std::string argument = (scratch.path() / "r").string() + "/";
    const WalkReport report = findRecordings({argument});
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].path, argument + "x.wav");
}

TEST(Arguments, KeepTheirOrderSoTwoRecordersFoldersStayApart) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "recorder2/0001.wav");
    touch(scratch.path() / "recorder2/0002.wav");
    touch(scratch.path() / "recorder1/0001.wav");
    const WalkReport report = findRecordings({scratch / "recorder2", scratch / "recorder1"});
    ASSERT_EQ(report.recordings.size(), 3u);
    EXPECT_EQ(report.recordings[0].path, scratch / "recorder2/0001.wav");
    EXPECT_EQ(report.recordings[1].path, scratch / "recorder2/0002.wav");
    EXPECT_EQ(report.recordings[2].path, scratch / "recorder1/0001.wav");
    EXPECT_EQ(report.recordings[2].relative, "0001.wav");
}

TEST(Arguments, AFileGivenDirectlyIsKeptWhateverItsNameUnderItsBaseName) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "d/take one.txt");
    const WalkReport report = findRecordings({scratch / "d/take one.txt"});
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].relative, "take one.txt");
    EXPECT_EQ(report.recordings[0].path, scratch / "d/take one.txt");
    EXPECT_EQ(report.recordings[0].argument, scratch / "d/take one.txt");
}

TEST(Arguments, AFileReachedTwiceIsListedOnceWhereFirstFound) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "all/site/a.wav");
    touch(scratch.path() / "all/b.wav");
    const WalkReport report =
        findRecordings({scratch / "all/site", scratch / "all", scratch / "all/b.wav"});
    std::vector<std::string> paths;
    for (const auto& recording : report.recordings) paths.push_back(recording.path);
    EXPECT_EQ(paths, (std::vector<std::string>{scratch / "all/site/a.wav", scratch / "all/b.wav"}));
}

std::vector<std::string> tableNamesOf(const WalkReport& report) {
    std::vector<std::string> names;
    for (const auto& recording : report.recordings) names.push_back(recording.file);
    return names;
}

TEST(TableNames, AreBelowTheOnePathOrBelowTheDeepestFolderHoldingSeveral) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "dup/siteA/rec.wav");
    touch(scratch.path() / "dup/siteB/deep/rec.wav");
    touch(scratch.path() / "dup/x.wav");
    EXPECT_EQ(tableNamesOf(findRecordings({scratch / "dup/siteA/"})),
              std::vector<std::string>{"rec.wav"});
    EXPECT_EQ(tableNamesOf(findRecordings({scratch / "dup/siteA/", scratch / "dup/./siteB"})),
              (std::vector<std::string>{"siteA/rec.wav", "siteB/deep/rec.wav"}));
    EXPECT_EQ(tableNamesOf(findRecordings({scratch / "dup/siteB/deep", scratch / "dup/x.wav"})),
              (std::vector<std::string>{"siteB/deep/rec.wav", "x.wav"}));
    EXPECT_EQ(
        tableNamesOf(findRecordings({scratch / "dup/siteA", scratch / "dup"})),
        (std::vector<std::string>{"dup/siteA/rec.wav", "dup/siteB/deep/rec.wav", "dup/x.wav"}));
}

TEST(Arguments, MissingOnesAreReportedAndTheOthersStillWalked) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "here/a.wav");
    const WalkReport report = findRecordings({scratch / "gone", scratch / "here", ""});
    EXPECT_EQ(report.missing, (std::vector<std::string>{scratch / "gone", ""}));
    EXPECT_EQ(relativesOf(report), std::vector<std::string>{"a.wav"});
    EXPECT_TRUE(findRecordings({scratch / "gone"}).recordings.empty());
}

TEST(SymbolicLinks, ToFilesAreFollowedAndToFoldersInsideAWalkAreNot) {
    testing::ScratchDirectory scratch;
    const fs::path root = scratch.path() / "root";
    touch(root / "sub/a.wav");
    touch(scratch.path() / "elsewhere/b.wav");
    touch(scratch.path() / "elsewhere/folder/c.wav");
    fs::create_symlink(scratch.path() / "elsewhere/b.wav", root / "link.wav");
    fs::create_directory_symlink(root, root / "sub/loop");
    fs::create_directory_symlink(scratch.path() / "elsewhere/folder", root / "away");
    fs::create_symlink(scratch.path() / "nothing.wav", root / "dangling.wav");
    const WalkReport report = findRecordings({root.string()});
    EXPECT_EQ(relativesOf(report), (std::vector<std::string>{"link.wav", "sub/a.wav"}));
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find("dangling.wav: broken symbolic link"), std::string::npos);
}

TEST(SymbolicLinks, AnArgumentThatIsALinkToAFolderIsWalked) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "2026-05/a.wav");
    fs::create_directory_symlink(scratch.path() / "2026-05", scratch.path() / "latest");
    const WalkReport report = findRecordings({scratch / "latest"});
    ASSERT_EQ(report.recordings.size(), 1u);
    EXPECT_EQ(report.recordings[0].path, scratch / "latest/a.wav");
}

// The walk over a tree with a folder it may not enter; empty when it went right, else what
// went wrong.
std::string walkPastLockedFolder(const fs::path& tree) {
    const WalkReport report = findRecordings({tree.string()});
    if (relativesOf(report) != std::vector<std::string>{"open/b.wav"})
        return "open/b.wav not found alone";
    if (report.problems.size() != 1) return std::to_string(report.problems.size()) + " problems";
    if (report.problems[0].find("locked: Permission denied") == std::string::npos) {
        return report.problems[0];
    }
    return {};
}

// Root reads every folder, so as root the walk runs in a child that became nobody.
int walkAsNobody(const fs::path& tree) {
    const pid_t child = ::fork();
    if (child == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
            ::setuid(nobody->pw_uid) != 0) {
            _exit(2);
        }
        const std::string wrong = walkPastLockedFolder(tree);
        if (!wrong.empty()) std::fprintf(stderr, "%s\n", wrong.c_str());
        _exit(wrong.empty() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST(UnreadableFolders, AreReportedAndTheRestOfTheTreeIsStillFound) {
    testing::ScratchDirectory scratch;
    touch(scratch.path() / "t/locked/a.wav");
    touch(scratch.path() / "t/open/b.wav");
    fs::permissions(scratch.path() / "t/locked", fs::perms::none);
    if (::geteuid() != 0) {
        EXPECT_EQ(walkPastLockedFolder(scratch.path() / "t"), "");
        return;
    }
    fs::permissions(scratch.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    EXPECT_EQ(walkAsNobody(scratch.path() / "t"), 0) << "2: could not become nobody";
}

}  // namespace
}  // namespace bm7::scan
