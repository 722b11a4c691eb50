#include "finder/exfat_orphan_folders.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/trace.h"
#include "finder/deleted_files.h"
#include "finder/exfat_directory_scanner.h"
#include "finder/exfat_entry_set.h"
#include "finder/orphan_folder_group.h"
#include "volume/cluster_map.h"
#include "volume/exfat_layout.h"
#include "volume/exfat_volume.h"

namespace veld {
namespace {

// Folders nest no deeper than this under the group; a folder whose entries
// lead back to one of its ancestors is not moved under it.
constexpr int kMaxDepth = 32;
// No folder is read beyond this many bytes, whatever its entry says.
constexpr uint64_t kMaxFolderBytes = 32ull << 20;
constexpr size_t kSlot = exfat::dirent::Size;
// Vendor entries (secondaries of a file set), as stored when in use.
constexpr uint8_t kVendorExtensionEntry = 0xE0;
constexpr uint8_t kVendorAllocationEntry = 0xE1;

// The entry types of a folder other than the root, live or deleted (InUse
// clear): a file set's primary and secondaries.
bool FolderEntryType(uint8_t type) {
    switch (type | exfat::kInUseBit) {
        case exfat::kFileEntry:
        case exfat::kStreamExtensionEntry:
        case exfat::kFileNameEntry:
        case kVendorExtensionEntry:
        case kVendorAllocationEntry: return true;
        default: return false;
    }
}

// A set that could only have been written as one: whole, named, its checksum
// right, and its clusters (if any) in the heap.
bool SoundSet(const ExfatEntrySet& set, const ExfatBoot& boot) {
    if (!set.complete || !set.checksumOk || set.nameLength == 0) return false;
    if (set.firstCluster == 0) return set.dataLength == 0;
    return boot.IsHeapCluster(set.firstCluster);
}

// Whether the folder ends inside these bytes (an end-of-directory slot).
bool EndsWithin(std::span<const uint8_t> bytes) {
    for (size_t at = 0; at + kSlot <= bytes.size(); at += kSlot)
        if (bytes[at] == exfat::kEndOfDirectory) return true;
    return false;
}

}  // namespace

bool LooksLikeExfatFolderCluster(std::span<const uint8_t> bytes, const ExfatBoot& boot) {
    const size_t slots = bytes.size() / kSlot;
    size_t end = slots;
    // Most clusters fail at their first slots; the sets are parsed only then.
    for (size_t i = 0; i < slots; ++i) {
        const uint8_t type = bytes[i * kSlot];
        if (type == exfat::kEndOfDirectory) {
            end = i;
            break;
        }
        if (!FolderEntryType(type)) return false;
    }
    if (end == 0) return false;
    for (const ExfatEntrySet& set : ParseExfatDirectory(bytes.first(end * kSlot)))
        if (SoundSet(set, boot)) return true;
    return false;
}

struct ExfatOrphanFolders::Impl {
    struct Node {
        uint64_t first = 0;
        std::string name;      // from the parent's entry; empty: not known
        int64_t parent = -1;   // index of the parent node; -1: under the group
        std::vector<size_t> children;
        std::vector<int32_t> records;  // listed records of its own files (indices in gcDelFileList)
    };
    // Where a folder's clusters are: its size from the parent's entry (0:
    // unknown) and whether they are consecutive.
    struct Extent {
        uint64_t first = 0;
        uint64_t length = 0;
        bool noFatChain = false;
    };

    Impl(SearchSession& s, const ExfatBoot& b) : session(s), boot(b), fat(*s.volume, b) {}

    SearchSession& session;
    ExfatBoot boot;
    ExfatFatReader fat;
    std::vector<Node> nodes;
    std::unordered_map<uint64_t, size_t> byFirst;

    // In the heap, free on the card, claimed by nothing found so far and not
    // read as a folder yet.
    bool Unclaimed(uint64_t c) const {
        const ClusterMap& map = session.clusterMap;
        if (!boot.IsHeapCluster(c) || AllocatedOnCard(map, c) || DirectoryBlockScanned(map, c)) return false;
        const ClusterUse state = ClusterState(map, c);
        return state == ClusterUse::Empty || state == ClusterUse::NoMap;
    }

    bool ReadCluster(uint64_t c, uint8_t* into) {
        return ReadVolumeBytes(*session.volume, boot.ClusterOffset(c), into, size_t(boot.ClusterSize()));
    }

    bool FolderAt(uint64_t c) {
        std::vector<uint8_t> bytes(size_t(boot.ClusterSize()));
        return Unclaimed(c) && ReadCluster(c, bytes.data()) && LooksLikeExfatFolderCluster(bytes, boot);
    }

    std::string Path(size_t n) const {
        std::string path;
        for (int step = 0; step <= kMaxDepth + 1; ++step) {
            const Node& node = nodes[n];
            const std::string name = node.name.empty() ? UnnamedFolderName(node.first) : node.name;
            path = path.empty() ? name : name + "\\" + path;
            if (node.parent < 0) break;
            n = size_t(node.parent);
        }
        return std::string(kOrphanFolderGroup) + "\\" + path;
    }

    int Depth(size_t n) const {
        int depth = 0;
        while (nodes[n].parent >= 0 && depth <= kMaxDepth) {
            n = size_t(nodes[n].parent);
            ++depth;
        }
        return depth;
    }

    int Height(size_t n, int below = 0) const {
        int height = 0;
        if (below > kMaxDepth) return height;
        for (size_t child : nodes[n].children) height = std::max(height, 1 + Height(child, below + 1));
        return height;
    }

    bool IsAncestorOrSelf(size_t ancestor, size_t n) const {
        for (int step = 0; step <= kMaxDepth + 1; ++step) {
            if (n == ancestor) return true;
            if (nodes[n].parent < 0) return false;
            n = size_t(nodes[n].parent);
        }
        return true;  // deeper than any allowed nesting: treated as a loop
    }

    size_t AddNode(uint64_t first, std::string name, int64_t parent) {
        nodes.push_back(Node{first, std::move(name), parent, {}});
        const size_t n = nodes.size() - 1;
        if (parent >= 0) nodes[size_t(parent)].children.push_back(n);
        byFirst.emplace(first, n);
        return n;
    }

    // The folder's clusters, read and marked as a deleted folder's. With its
    // size from the parent's entry: its chain for that size (consecutive
    // clusters when NoFatChain, or when the format cleared the chain). Without
    // it: its first cluster, then the next ones while they hold entry sets,
    // up to the end-of-directory entry. Either way a cluster something else
    // claims ends the folder.
    std::vector<uint8_t> ReadFolder(const Extent& e) {
        const uint64_t cs = boot.ClusterSize();
        const uint64_t cap = kMaxFolderBytes / cs;
        std::vector<uint64_t> planned;
        if (e.length) {
            const uint64_t wanted = std::min(ExfatClustersFor(boot, e.length), cap);
            ExfatChain chain = fat.ClustersUpTo(e.first, wanted, e.noFatChain);
            if (!e.noFatChain && chain.clusters <= 1 && wanted > 1) chain = fat.ClustersUpTo(e.first, wanted, true);
            planned = ClustersOfRuns(chain.runs);
        }
        std::vector<uint8_t> bytes;
        ClusterMap& map = session.clusterMap;
        for (uint64_t i = 0; i < cap && !session.Cancelled(); ++i) {
            if (e.length && i >= planned.size()) break;
            const uint64_t c = e.length ? planned[size_t(i)] : e.first + i;
            if (!Unclaimed(c)) break;
            const size_t at = bytes.size();
            bytes.resize(at + size_t(cs));
            const std::span<const uint8_t> cluster(bytes.data() + at, size_t(cs));
            if (!ReadCluster(c, bytes.data() + at) || (!e.length && i > 0 && !LooksLikeExfatFolderCluster(cluster, boot))) {
                bytes.resize(at);
                break;
            }
            MarkDirectoryBlockScanned(map, c);
            SetClusterState(map, c, ClusterUse::DeletedFolder);
            SetClusterClass(map, c, ContentClass::Folder);
            if (!e.length && EndsWithin(cluster)) break;
        }
        return bytes;
    }

    // Folder t, so far under the group, is the sub-folder name of n: it and
    // everything under it (records already listed included) move there. A
    // folder has one parent: the first entry met that names it.
    void Adopt(size_t t, size_t n, const std::string& name) {
        if (nodes[t].parent >= 0 || IsAncestorOrSelf(t, n)) return;
        if (Depth(n) + 1 + Height(t) > kMaxDepth) return;
        const std::string before = Path(t);
        nodes[t].parent = int64_t(n);
        nodes[t].name = name;
        nodes[n].children.push_back(t);
        const std::string after = Path(t);
        // Only the records of the folders that move are rewritten (a look at
        // every listed record for each adoption cost the square of them).
        size_t moved = 0;
        std::vector<size_t> subtree{t};
        session.gcDelFileList.Lock();
        for (size_t k = 0; k < subtree.size(); ++k) {
            const Node& node = nodes[subtree[k]];
            subtree.insert(subtree.end(), node.children.begin(), node.children.end());
            for (int32_t index : node.records) {
                DelFileInfo* r = session.gcDelFileList.Get(size_t(index));
                if (!r || !r->folder) continue;
                const std::string& folder = *r->folder;
                if (folder.compare(0, before.size(), before) != 0) continue;
                if (folder.size() == before.size() || folder[before.size()] == '\\') {
                    r->folder = after + folder.substr(before.size());
                    ++moved;
                }
            }
        }
        session.gcDelFileList.Unlock();
        TraceLine(">>Lost Dir %s is %s (%zu files moved)", before.c_str(), after.c_str(), moved);
    }

    void SubFolder(size_t n, const ExfatEntrySet& set, std::vector<std::pair<size_t, Extent>>& queue) {
        const uint64_t first = set.firstCluster;
        if (!boot.IsHeapCluster(first)) return;
        const std::string name = set.name.empty() ? "#" + std::to_string(first) : set.name;
        if (auto it = byFirst.find(first); it != byFirst.end()) {
            Adopt(it->second, n, name);
            return;
        }
        if (Depth(n) + 1 > kMaxDepth || !FolderAt(first)) return;
        const size_t child = AddNode(first, name, int64_t(n));
        queue.emplace_back(child, Extent{first, set.dataLength, set.NoFatChain()});
    }

    // Reads the folder with the sub-folders its entries lead to, then places
    // and registers their files together. Every set in such a folder is a
    // deleted file, however live it looks: its folder is gone.
    void ReadTree(size_t root) {
        std::vector<PendingFile> files;
        std::unordered_map<std::string, size_t> nodeOfPath;
        std::vector<std::pair<size_t, Extent>> queue{{root, Extent{nodes[root].first, 0, false}}};
        for (size_t q = 0; q < queue.size() && !session.Cancelled(); ++q) {
            const auto [n, extent] = queue[q];
            const std::vector<uint8_t> bytes = ReadFolder(extent);
            const std::string path = Path(n);
            nodeOfPath.emplace(path, n);
            TraceLine(">>Search Lost Dir %s (cluster %llu, %zu bytes)", path.c_str(), (unsigned long long)extent.first,
                      bytes.size());
            ++session.folderCount;
            for (const ExfatEntrySet& set : ParseExfatDirectory(bytes)) {
                if (set.IsDirectory()) {
                    SubFolder(n, set, queue);
                } else {
                    ++session.fileCount;
                    files.push_back(PendingExfatFile(session, boot, fat, set, path));
                }
            }
        }
        const size_t listedBefore = session.gcDelFileList.Count();
        RegisterDeletedFiles(session, std::move(files));
        // Each folder keeps the records listed of its files, for adoptions.
        const size_t listedAfter = session.gcDelFileList.Count();
        session.gcDelFileList.Lock();
        for (size_t i = listedBefore; i < listedAfter; ++i) {
            const DelFileInfo* r = session.gcDelFileList.Get(i);
            if (!r || r->carved || !r->folder) continue;
            if (auto it = nodeOfPath.find(*r->folder); it != nodeOfPath.end())
                nodes[it->second].records.push_back(int32_t(i));
        }
        session.gcDelFileList.Unlock();
    }
};

ExfatOrphanFolders::ExfatOrphanFolders(SearchSession& session) {
    if (!session.volume) return;
    if (std::optional<ExfatBoot> boot = ExfatBootOf(*session.volume); boot && boot->ClusterSize() >= kSlot)
        impl_ = std::make_unique<Impl>(session, *boot);
}

ExfatOrphanFolders::~ExfatOrphanFolders() = default;

bool ExfatOrphanFolders::Examine(uint64_t cluster, std::span<const uint8_t> bytes) {
    if (!impl_ || impl_->byFirst.count(cluster) || !impl_->Unclaimed(cluster) ||
        !LooksLikeExfatFolderCluster(bytes, impl_->boot))
        return false;
    impl_->ReadTree(impl_->AddNode(cluster, std::string(), -1));
    return true;
}

}  // namespace veld
