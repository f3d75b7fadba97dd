#include "EntryList.h"

#include "NameText.h"

#include <cstring>

namespace kartoma {

void EntryList::clear() {
    blocks_.clear();
    count_ = 0;
    undecodableNames_ = 0;
    nameBlocks_.clear();
    nameBlockUsed_ = kNameBlockBytes;
    folders_.clear();
    startPaths_.clear();
    volumeLabel_.clear();
}

std::uint32_t EntryList::addFolder(std::string_view path) {
    undecodableNames_ += undecodableNamesIn(path);
    startPaths_.emplace_back(path);
    folders_.push_back(Folder{nullptr, kNoParent, static_cast<std::uint32_t>(startPaths_.size() - 1)});
    return static_cast<std::uint32_t>(folders_.size() - 1);
}

std::uint32_t EntryList::addFolder(std::uint32_t parent, std::string_view name, bool listed) {
    name = name.substr(0, kMaxNameBytes);
    folders_.push_back(Folder{storeName(name, !listed), parent, static_cast<std::uint32_t>(name.size())});
    return static_cast<std::uint32_t>(folders_.size() - 1);
}

std::string EntryList::folderBytes(std::uint32_t index) const {
    std::vector<std::uint32_t> chain;
    while (folders_[index].parent != kNoParent) {
        chain.push_back(index);
        index = folders_[index].parent;
    }
    std::string path = startPaths_[folders_[index].nameLength];
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Folder& f = folders_[*it];
        path = joinPathBytes(path, std::string_view(f.name, f.nameLength));
    }
    return path;
}

QString EntryList::folderPath(std::uint32_t index) const {
    return pathText(folderBytes(index));
}

const char* EntryList::storeName(std::string_view name, bool counted) {
    if (counted && nameEncoding(name) == NameEncoding::Neither) {
        ++undecodableNames_;
    }
    if (nameBlocks_.empty() || nameBlockUsed_ + name.size() > kNameBlockBytes) {
        nameBlocks_.push_back(std::make_unique_for_overwrite<char[]>(kNameBlockBytes));
        nameBlockUsed_ = 0;
    }
    char* place = nameBlocks_.back().get() + nameBlockUsed_;
    std::memcpy(place, name.data(), name.size());
    nameBlockUsed_ += name.size();
    return place;
}

void EntryList::append(std::uint32_t folder, std::string_view name, std::int64_t size,
                       const LocalStamp& stamp, EntryType type) {
    if (count_ % kBlockRecords == 0 && count_ / kBlockRecords == blocks_.size()) {
        blocks_.push_back(std::make_unique_for_overwrite<Block>());
    }
    // A name is at most 255 bytes on every Linux file system; the record holds up to 65,535.
    name = name.substr(0, kMaxNameBytes);
    void* slot = blocks_[count_ / kBlockRecords]->bytes + count_ % kBlockRecords * sizeof(Record);
    new (slot) Record{storeName(name), folder, static_cast<std::uint16_t>(name.size()), type, size, stamp};
    ++count_;
}

} // namespace kartoma
