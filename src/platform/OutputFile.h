#pragma once

#include <QString>

#include <string>

namespace kartoma {

/// The error value for an output that exists but is not a regular file (a FIFO, a device, a socket).
inline constexpr int kNotRegularFile = -1;

/// The text for an error value of this file: the system's text, or the one for kNotRegularFile.
QString outputErrorText(int error);

/// Checks that the file at `path` (raw bytes) may be replaced by a catalogue: a symbolic link is
/// followed to its target; a target that exists must be a regular file the user may write. Returns 0,
/// an errno value or kNotRegularFile.
int checkOutputFile(const std::string& path);

/// One policy for every output the program writes: the new version is written apart and takes the
/// old one's place only when complete, so a failure (or the user's stop) never leaves a truncated
/// file and never destroys the existing one; an interrupt, termination or hang-up signal while it is
/// written removes what was written.
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
    /// an errno value or kNotRegularFile.
    int open(const std::string& path);

    /// Where the writer creates the new version: a name nothing exists at yet.
    const std::string& workPath() const { return workPath_; }

    /// Moves the written file over the target (with the permissions of the file it replaces).
    /// Returns 0 or an errno value; after a failure the target is as it was.
    int commit();

private:
    void discard();

    std::string target_;
    std::string folder_;
    std::string workPath_;
    int slot_ = -1;
    bool replaces_ = false;
    unsigned keptMode_ = 0;
};

} // namespace kartoma
