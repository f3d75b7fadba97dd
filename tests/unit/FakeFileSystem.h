#pragma once

#include "FileSystem.h"

#include <map>
#include <string>
#include <vector>

namespace kartoma::testing {

/// A file system held in memory: each folder lists its entries in the order given (not sorted), may
/// refuse to be opened, and may report entries that vanished between enumeration and examination.
class FakeFileSystem final : public FileSystem {
public:
    struct Entry {
        std::string name;
        EntryKind kind;
        std::int64_t size = 0;
        std::int64_t mtime = 0;
    };
    struct Folder {
        std::vector<Entry> entries;
        int openError = 0;
        std::vector<std::string> vanished;
    };

    Folder& folder(const std::string& path) { return folders_[path]; }

    int listFolder(const std::string& path, bool, FolderListing& out,
                   std::vector<ListingProblem>& problems) override {
        opened.push_back(path);
        const auto it = folders_.find(path);
        if (it == folders_.end()) {
            return 2; // ENOENT
        }
        if (it->second.openError != 0) {
            return it->second.openError;
        }
        for (const Entry& e : it->second.entries) {
            out.add(e.name, e.kind, e.size, e.mtime);
        }
        for (const std::string& name : it->second.vanished) {
            problems.push_back(ListingProblem{name, 2});
        }
        return 0;
    }

    std::vector<std::string> opened;

private:
    std::map<std::string, Folder> folders_;
};

} // namespace kartoma::testing
