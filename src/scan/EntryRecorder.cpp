#include "EntryRecorder.h"

namespace kartoma {

EntryRecorder::EntryRecorder(const RecorderOptions& options, EntryList& list)
    : listFolders_(options.listFolders), pattern_(options.filterPattern), list_(list) {}

void EntryRecorder::beginFolder(int level, std::string_view name) {
    // The folder (and the ancestors it needs) goes into the list's table only once one of its
    // entries is recorded, so that filtered-out folders cost nothing. The walk goes depth first: the
    // levels above this one are still the ones recorded for the folder before.
    if (names_.size() < static_cast<std::size_t>(level)) {
        names_.resize(static_cast<std::size_t>(level));
    }
    names_[static_cast<std::size_t>(level - 1)].assign(name);
    level_ = level;
    if (added_.size() >= static_cast<std::size_t>(level)) {
        added_.resize(static_cast<std::size_t>(level - 1));
    }
}

void EntryRecorder::offer(std::string_view name, std::string_view upperName,
                          const FolderListing::Item& item) {
    const EntryType type = item.kind == EntryKind::Folder ? EntryType::Folder : EntryType::File;
    if (type == EntryType::Folder) {
        if (!listFolders_) {
            return;
        }
    } else if (!pattern_.matchesUpperUtf8(upperName)) {
        return;
    }
    while (added_.size() < static_cast<std::size_t>(level_)) {
        added_.push_back(added_.empty() ? list_.addFolder(names_.front())
                                        : list_.addFolder(added_.back(), names_[added_.size()], listFolders_));
    }
    list_.append(added_.back(), name, type == EntryType::Folder ? 0 : item.size, stamps_.toLocalStamp(item.mtime),
                 type);
}

} // namespace kartoma

namespace kartoma {

WalkStats collectEntries(const QString& folder, const CatalogueOptions& options, FileSystem& fileSystem,
                         WalkObserver& observer, EntryList& list) {
    list.clear();
    list.setVolumeLabel(options.volumeLabel);
    EntryRecorder recorder(options.record, list);
    return walkTree(folder, options.walk, fileSystem, recorder, observer);
}

} // namespace kartoma
