// A small tmpfs mounted on a fresh folder for the length of a test, to meet a full or a
// read-only file system for real. Only root may mount: a test asks available() and skips
// otherwise. Always unmounted, even when the test fails.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/scratch_directory.h"

namespace bm7::testing {

class SmallTmpfs {
public:
    explicit SmallTmpfs(const std::string& size) {
        if (::geteuid() != 0) return;
        const std::string options = "size=" + size + ",mode=0777";
        mounted_ = ::mount("tmpfs", scratch_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_) problem_ = std::strerror(errno);
    }
    ~SmallTmpfs() {
        if (mounted_) ::umount2(scratch_.path().c_str(), MNT_DETACH);
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool available() const { return mounted_; }
    // Why the tmpfs is missing, for the skip message.
    std::string why() const { return mounted_ ? "" : problem_; }

    // Remounts it read-only, keeping what was written so far.
    bool makeReadOnly() {
        return ::mount("tmpfs", scratch_.path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                       nullptr) == 0;
    }

    // Gives it a new size, keeping what was written so far.
    bool resize(const std::string& size) {
        const std::string options = "size=" + size;
        return ::mount("tmpfs", scratch_.path().c_str(), "tmpfs", MS_REMOUNT, options.c_str()) == 0;
    }

    std::string operator/(const std::string& name) const { return scratch_ / name; }
    const std::filesystem::path& path() const { return scratch_.path(); }

private:
    ScratchDirectory scratch_;
    bool mounted_ = false;
    std::string problem_ = "mounting needs root";
};

}  // namespace bm7::testing
