#pragma once

#include <QString>

#include <string>

namespace kartoma {

/// The error value for an output that exists but is not a regular file (a FIFO, a device, a socket).
inline constexpr int kNotRegularFile = -1;

/// The error value for a symbolic link the system itself would not follow: it lies in a sticky folder
/// anyone may write to (such as /tmp), and neither that folder's owner nor the user owns it. Another
/// user could have planted it there to send the catalogue onto a file of their choosing.
inline constexpr int kForeignLink = -2;

/// The text for an error value of this file: the system's text, or the one for kNotRegularFile or
/// kForeignLink.
QString outputErrorText(int error);

/// Checks that the file at `path` (raw bytes) may be replaced by a catalogue: a symbolic link is
/// followed to its target, as the system would follow it; a target that exists must be a regular file
/// the user may write, in a folder where the user may create the new version. Returns 0, an errno
/// value, kNotRegularFile or kForeignLink.
int checkOutputFile(const std::string& path);

/// One policy for every output the program writes: the new version is written apart and takes the
/// old one's place only when complete, so a failure (or the user's stop) never leaves a truncated
/// file and never destroys the existing one; a signal that ends the program while it is written (an
/// interrupt, a termination, a hang-up, a file size limit ...) removes what was written. Only a kill
/// that cannot be caught leaves the private folder behind.
///
/// The new version is made inside a private folder beside the target, so whatever a writer (or a
/// library under it) creates there goes with that folder.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// Checks `path` as checkOutputFile does and prepares the place for the new version. Returns 0,
    /// an errno value, kNotRegularFile or kForeignLink.
    int open(const std::string& path);

    /// Where the writer creates the new version: a name nothing exists at yet.
    const std::string& workPath() const { return workPath_; }

    /// Moves the written file over the target, with the owner, group and permissions of the file it
    /// replaces (the owner only where the user may give it). Other hard links to the replaced file keep
    /// its old content: the new version is a new file. Returns 0 or an errno value; after a failure the
    /// target is as it was.
    int commit();

private:
    void discard();

    std::string target_;
    std::string folder_;
    std::string workPath_;
    int slot_ = -1;
    bool replaces_ = false;
    /// The replaced file's permissions, owner and group, which the new version takes.
    unsigned keptMode_ = 0;
    unsigned keptOwner_ = 0;
    unsigned keptGroup_ = 0;
};

} // namespace kartoma
