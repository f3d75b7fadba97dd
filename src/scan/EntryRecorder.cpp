#include "EntryRecorder.h"

namespace kartoma {

EntryRecorder::EntryRecorder(const RecorderOptions& options, EntryList& list)
    : listFolders_(options.listFolders), pattern_(options.filterPattern), list_(list) {}

void EntryRecorder::beginFolder(int, std::string_view, const QString& dir) {
    // The folder goes into the list's table only once one of its entries is recorded, so that
    // filtered-out folders cost nothing.
    pendingFolder_ = dir;
    folderAdded_ = false;
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
    if (!folderAdded_) {
        folderIndex_ = list_.addFolder(pendingFolder_);
        folderAdded_ = true;
    }
    list_.append(folderIndex_, name, type == EntryType::Folder ? 0 : item.size, toLocalStamp(item.mtime),
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
