#pragma once

#include "FileSystem.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kartoma::testing {

/// A file system held in memory: each folder lists its entries in the order given (not sorted), may
/// refuse to be opened, may report entries that vanished between enumeration and examination, and
/// may take its time to be read. Safe to call from several threads, as the walk does.
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
        std::chrono::milliseconds readTime{0}; ///< how long listing it blocks, as a slow disc would
    };

    Folder& folder(const std::string& path) { return folders_[path]; }

    int openRoot(const std::string& path, FolderHandle& folder) override {
        const std::lock_guard lock(*mutex_);
        return open(path, folder);
    }

    int openChild(FolderHandle parent, std::string_view name, FolderHandle& folder) override {
        const std::lock_guard lock(*mutex_);
        std::string path = handles_.at(static_cast<std::size_t>(parent));
        if (path.back() != '/') {
            path += '/';
        }
        return open(path.append(name), folder);
    }

    int listFolder(FolderHandle folder, FolderListing& out, std::vector<ListingProblem>& problems) override {
        std::unique_lock lock(*mutex_);
        const Folder& f = folders_.at(handles_.at(static_cast<std::size_t>(folder)));
        if (f.readTime.count() > 0) {
            lock.unlock();
            std::this_thread::sleep_for(f.readTime);
            lock.lock();
        }
        for (const Entry& e : f.entries) {
            out.add(e.name, e.kind, e.size, e.mtime);
        }
        for (const std::string& name : f.vanished) {
            problems.push_back(ListingProblem{name, 2});
        }
        return 0;
    }

    void closeFolder(FolderHandle folder) override {
        const std::lock_guard lock(*mutex_);
        ++closed.at(static_cast<std::size_t>(folder));
    }

    /// Every folder path opened, in order; closed[i] counts how often the i-th handle was given back.
    std::vector<std::string> opened;
    std::vector<int> closed;

private:
    int open(const std::string& path, FolderHandle& folder) {
        opened.push_back(path);
        const auto it = folders_.find(path);
        if (it == folders_.end()) {
            return 2; // ENOENT
        }
        if (it->second.openError != 0) {
            return it->second.openError;
        }
        folder = static_cast<FolderHandle>(handles_.size());
        handles_.push_back(path);
        closed.push_back(0);
        return 0;
    }

    std::unique_ptr<std::mutex> mutex_ = std::make_unique<std::mutex>(); // movable, so a tree can be returned
    std::vector<std::string> handles_;
    std::map<std::string, Folder> folders_;
};

} // namespace kartoma::testing
