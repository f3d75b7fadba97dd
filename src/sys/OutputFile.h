#pragma once

#include "Failure.h"

#include <QString>

#include <string>

namespace kartoma {

/// The error value for an output that exists but is not a regular file (a FIFO, a device, a socket).
inline constexpr int kNotRegularFile = -1;

/// The error value for a symbolic link the system itself would not follow: it lies in a sticky folder
/// anyone may write to (such as /tmp), and neither that folder's owner nor the user owns it. Another
/// user could have planted it there to send the catalogue onto a file of their choosing.
inline constexpr int kForeignLink = -2;

/// The failure an error value of this file stands for, the one mapping every writer uses: a planted
/// link (kForeignLink) is OutputLinkRefused whatever the step; any other value is `code` with the
/// system's text (or "not a regular file") as its detail. `path` is the output as the user named it.
Failure outputFailure(int error, FailureCode code, const QString& path);

/// Checks that the file at `path` (raw bytes) may be replaced by a catalogue: a symbolic link is
/// followed to its target, as the system would follow it; a target that exists must be a regular file
/// the user may write, in a folder where the user may create the new version. Returns 0, an errno
/// value, kNotRegularFile or kForeignLink.
int checkOutputFile(const std::string& path);

/// One policy for every output the program writes: the new version is written apart and takes the
/// old one's place only when complete, so a failure (or the user's stop) never leaves a truncated
/// file and never destroys the existing one.
///
/// Written through a descriptor, the new version is a file without a name in the target's folder
/// until it is complete: whatever ends the program before (a kill, a crash), the system takes it
/// away and nothing is left. Where the file system cannot make a file without a name, it is made
/// inside a private folder beside the target, so that it goes with that folder; a signal that ends the
/// program then (an interrupt, a termination, a hang-up, a file size limit, a crash ...) removes the
/// folder, and only a kill that cannot be caught leaves it behind.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Checks `path` as checkOutputFile does and prepares the place for the new version. Returns 0,
    /// an errno value, kNotRegularFile or kForeignLink.
    int open(const std::string& path);

    /// The descriptor the writer writes the new version through. It stays OutputFile's: the writer
    /// does not close it.
    int descriptor() const { return fd_; }

    /// Moves the written file over the target, with the owner, group and permissions of the file it
    /// replaces (the owner only where the user may give it). Other hard links to the replaced file keep
    /// its old content: the new version is a new file. Returns 0 or an errno value; after a failure the
    /// target is as it was.
    int commit();

private:
    int openUnnamed();
    int openInPrivateFolder();
    int nameUnnamed(const std::string& name);
    bool claimSlot(const std::string& path);
    void releaseSlot();
    void discard();

    std::string target_;
    std::string folder_;
    std::string workPath_;
    /// The private name an unnamed new version is linked to just before it replaces the target.
    std::string linkPath_;
    int fd_ = -1;
    bool unnamed_ = false;
    int slot_ = -1;
    bool replaces_ = false;
    /// The replaced file's permissions, owner and group, which the new version takes.
    unsigned keptMode_ = 0;
    unsigned keptOwner_ = 0;
    unsigned keptGroup_ = 0;
};

} // namespace kartoma
