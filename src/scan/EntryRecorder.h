#pragma once

#include "EntryList.h"
#include "LikePattern.h"
#include "Walk.h"

#include <string>
#include <vector>

namespace kartoma {

struct RecorderOptions {
    /// List folders too; without it only files are recorded.
    bool listFolders = false;
    /// The pattern file names must match (letter case ignored); folders are never filtered by it.
    QString filterPattern = QStringLiteral("*.*");
};

/// Decides which of the entries the walk offers belong in the list, and records them.
class EntryRecorder final : public EntrySink {
public:
    EntryRecorder(const RecorderOptions& options, EntryList& list);

    void beginFolder(int level, std::string_view name) override;
    void offer(std::string_view name, std::string_view upperName, const FolderListing::Item& item) override;

private:
    bool listFolders_;
    LikePattern pattern_;
    EntryList& list_;
    /// The folder being offered and its ancestors: the chosen folder's path, then one name per
    /// level (bytes); added_ holds the table indexes of the levels already in the list, from the top.
    std::vector<std::string> names_;
    int level_ = 0;
    std::vector<std::uint32_t> added_;
    LocalStampCache stamps_;
};

} // namespace kartoma

namespace kartoma {

/// Everything that decides what one catalogue holds.
struct CatalogueOptions {
    WalkOptions walk;
    RecorderOptions record;
    QString volumeLabel; ///< written into every entry; may be empty
};

/// Empties `list`, then walks `folder` into it: the one road from a folder to a list, shared by the
/// window and the command line. Throws Failure when `folder` itself cannot be listed.
WalkStats collectEntries(const QString& folder, const CatalogueOptions& options, FileSystem& fileSystem,
                         WalkObserver& observer, EntryList& list);

} // namespace kartoma
