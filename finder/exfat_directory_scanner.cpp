#include "finder/exfat_directory_scanner.h"

#include <algorithm>
#include <ctime>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/trace.h"
#include "finder/deleted_files.h"
#include "finder/registry.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/exfat_volume.h"

namespace veld {
namespace {

// Folders nest no deeper than this; damaged entries that point back to an
// ancestor are stopped by the visited set as well.
constexpr int kMaxDepth = 32;
// No folder is read beyond this many bytes (a million entries): a damaged
// data length must not make the scanner allocate more.
constexpr uint64_t kMaxFolderBytes = 32ull << 20;

struct Folder {
    uint64_t first = 0;
    uint64_t length = 0;       // bytes; 0: unknown (the root), read as far as its chain goes
    bool noFatChain = false;
    bool deleted = false;      // the folder, or one of its ancestors, is deleted
    int depth = 0;
    std::string path;          // components joined by "\"
};

std::string JoinPath(const std::string& path, const std::string& name) {
    return path.empty() ? name : path + "\\" + name;
}

// The clusters a deleted chained file's FAT still leads through, then
// consecutive ones for the rest; empty for a NoFatChain file or a chain
// that leads nowhere beyond its start (the registration then assumes the
// file contiguous from its first cluster). The rest runs only over
// clusters that belong to nothing - free in the bitmap and in no FAT
// chain (a deleted file keeps its chain) - so a damaged size plans no
// more than the chain and the free run after it can deliver. A size the
// heap could never hold says nothing of where the rest lies: only the
// chain is planned.
std::vector<uint64_t> PlannedChain(SearchSession& session, const ExfatBoot& boot, ExfatFatReader& fat,
                                   const ExfatEntrySet& set, const std::string& path) {
    if (set.NoFatChain() || set.dataLength == 0 || !boot.IsHeapCluster(set.firstCluster)) return {};
    const uint64_t needed = ExfatClustersFor(boot, set.dataLength);
    const uint64_t wanted = std::min<uint64_t>(needed, boot.clusterCount);
    ExfatChain chain = fat.ClustersUpTo(set.firstCluster, wanted, false);
    if (chain.clusters <= 1) return {};
    std::vector<uint64_t> planned = ClustersOfRuns(chain.runs);
    if (needed > boot.clusterCount) {
        TraceLine("ERROR exFAT: damaged deleted entry %s (cluster %u): its size %llu is larger than the cluster heap; "
                  "only the %llu clusters of its chain are planned",
                  path.c_str(), unsigned(set.firstCluster), (unsigned long long)set.dataLength,
                  (unsigned long long)planned.size());
        return planned;
    }
    const uint64_t heapEnd = uint64_t(boot.clusterCount) + 2;
    for (uint64_t c = planned.back() + 1; planned.size() < wanted && c < heapEnd; ++c) {
        if (AllocatedOnCard(session.clusterMap, c) || fat.Entry(uint32_t(c)) != 0) break;
        planned.push_back(c);
    }
    return planned;
}

class ExfatScan {
public:
    ExfatScan(SearchSession& session, const ExfatBoot& boot)
        : session_(session), boot_(boot), fat_(*session.volume, boot) {}

    void Run() {
        Folder root;
        root.first = boot_.rootCluster;
        visited_.insert(root.first);
        Walk(root);
        // Deleted folders; their deleted sub-folders join the queue. Deleted
        // files wait (HoldOrRegister) until every live file has claimed its
        // clusters.
        for (size_t i = 0; i < deletedFolders_.size() && !session_.Cancelled(); ++i) {
            const Folder folder = deletedFolders_[i];
            if (!visited_.insert(folder.first).second) {
                TraceLine(">>Skip Search Del Dir %s: its first cluster was read already", folder.path.c_str());
                continue;
            }
            TraceLine(">>Search Del Dir %s", folder.path.c_str());
            Walk(folder);
        }
    }

private:

    // The folder's clusters in order: its FAT chain, or its consecutive
    // clusters when the stream is NoFatChain. A deleted folder whose chain
    // leads nowhere is assumed consecutive, like a FAT folder.
    ExfatChain FolderClusters(const Folder& f) {
        const uint64_t cap = kMaxFolderBytes / boot_.ClusterSize() + 1;
        const uint64_t wanted = f.length ? std::min(ExfatClustersFor(boot_, f.length), cap) : cap;
        ExfatChain chain = fat_.ClustersUpTo(f.first, wanted, f.noFatChain);
        if (f.deleted && !f.noFatChain && f.length && chain.clusters <= 1 && wanted > 1)
            chain = fat_.ClustersUpTo(f.first, wanted, true);
        return chain;
    }

    // Reads the folder's clusters and claims them. A deleted folder stops at
    // a cluster that the bitmap or a live object claims: it was reused.
    std::vector<uint8_t> ReadFolder(const Folder& f) {
        std::vector<uint8_t> bytes;
        ClusterMap& map = session_.clusterMap;
        DiskVolume& volume = *session_.volume;
        const uint64_t cs = boot_.ClusterSize();
        for (uint64_t c : ClustersOfRuns(FolderClusters(f).runs)) {
            if (session_.Cancelled() || bytes.size() >= kMaxFolderBytes) break;
            if (DirectoryBlockScanned(map, c)) break;
            if (f.deleted) {
                const ClusterUse state = ClusterState(map, c);
                if (AllocatedOnCard(map, c) || (state != ClusterUse::Empty && state != ClusterUse::DeletedFolder && state != ClusterUse::DeletedFile)) {
                    TraceLine("%s  cluster %llu of the deleted folder is in use: read up to it", f.path.c_str(),
                              (unsigned long long)c);
                    break;
                }
            }
            const size_t at = bytes.size();
            bytes.resize(at + size_t(cs));
            if (!ReadVolumeBytes(volume, boot_.ClusterOffset(c), bytes.data() + at, size_t(cs))) {
                bytes.resize(at);
                break;
            }
            MarkDirectoryBlockScanned(map, c);
            SetClusterState(map, c, f.deleted ? ClusterUse::DeletedFolder : ClusterUse::LiveFolder);
        }
        return bytes;
    }

    void Walk(const Folder& f) {
        if (!f.path.empty() && session_.directoryPhase.load())
            session_.progress.Report(PhaseFolder, -1, "フォルダ検索 " + f.path);
        const std::vector<uint8_t> bytes = ReadFolder(f);
        const std::string indent(size_t(f.depth) * 2, ' ');
        for (const ExfatEntrySet& set : ParseExfatDirectory(bytes)) {
            if (session_.Cancelled()) return;
            const bool deleted = f.deleted || set.deleted;
            TraceLine("%s(%02x)%s %s %s %s c=%X size=%llu%s%s", indent.c_str(), set.deleted ? 0x05 : 0x85,
                      set.name.c_str(), deleted ? "DEL" : "   ", FatAttributeText(uint8_t(set.attributes)),
                      ExfatTimestampText(set.modified).c_str(), unsigned(set.firstCluster),
                      (unsigned long long)set.dataLength, set.note.empty() ? "" : " ", set.note.c_str());
            if (set.IsDirectory())
                SubFolder(f, set, deleted);
            else
                File(f, set, deleted);
        }
        TraceLine("%s<<End OF Dir", indent.c_str());
    }

    void SubFolder(const Folder& parent, const ExfatEntrySet& set, bool deleted) {
        ++session_.folderCount;
        if (parent.depth + 1 > kMaxDepth || !boot_.IsHeapCluster(set.firstCluster)) return;
        Folder sub;
        sub.first = set.firstCluster;
        sub.length = set.dataLength;
        sub.noFatChain = set.NoFatChain();
        sub.deleted = deleted;
        sub.depth = parent.depth + 1;
        sub.path = JoinPath(parent.path, set.name.empty() ? "#" + std::to_string(set.firstCluster) : set.name);
        // A folder reached twice (damaged entries, or a deleted folder whose
        // clusters a live one took) is read once; deleted ones are checked
        // when their turn comes, after the whole live tree has been read.
        if (deleted) {
            deletedFolders_.push_back(std::move(sub));
        } else if (visited_.insert(sub.first).second) {
            Walk(sub);
        }
    }

    void File(const Folder& parent, const ExfatEntrySet& set, bool deleted) {
        ++session_.fileCount;
        if (!deleted) {
            ClaimLive(set, JoinPath(parent.path, set.name));
            return;
        }
        HoldOrRegister(session_, PendingExfatFile(session_, boot_, fat_, set, parent.path));
    }

    // A live file's clusters become FA_USE_FILE, except those a deleted
    // file has claimed (as on FAT, the deleted claim wins). The allocation
    // bitmap has the last word: a cluster it calls free holds no live data,
    // so a damaged size (or chain) cannot hide free space from the search. A
    // contiguous file ends at its first free cluster; a chain skips them.
    // Without a bitmap the heap alone bounds the claim.
    void ClaimLive(const ExfatEntrySet& set, const std::string& path) {
        if (set.dataLength == 0 || !boot_.IsHeapCluster(set.firstCluster)) return;
        ClusterMap& map = session_.clusterMap;
        const auto* exfat = dynamic_cast<const ExfatFileSystem*>(map.fileSystem.get());
        const bool bitmap = exfat && exfat->HasBitmap();
        uint64_t claimed = 0, free = 0, firstFree = 0;
        const std::vector<ClusterRun> runs = fat_.Clusters(set.firstCluster, set.dataLength, set.NoFatChain()).runs;
        for (const ClusterRun& run : runs) {
            for (uint64_t c = run.first; c < run.first + run.count; ++c) {
                if (bitmap && !AllocatedOnCard(map, c)) {
                    if (free++ == 0) firstFree = c;
                    if (set.NoFatChain()) break;
                    continue;
                }
                ++claimed;
                if (ClusterState(map, c) != ClusterUse::DeletedFile) SetClusterState(map, c, ClusterUse::LiveFile);
            }
            if (free > 0 && set.NoFatChain()) break;
        }
        if (free == 0) {
            if (!runs.empty() && runs[0].first == set.firstCluster && runs[0].count > 1)
                session_.liveRuns[runs[0].first] = runs[0].first + runs[0].count - 1;
            return;
        }
        if (set.NoFatChain())
            TraceLine("ERROR exFAT: damaged live entry %s (cluster %u, size %llu): the clusters from %llu on are free "
                      "in the allocation bitmap; %llu clusters claimed",
                      path.c_str(), unsigned(set.firstCluster), (unsigned long long)set.dataLength,
                      (unsigned long long)firstFree, (unsigned long long)claimed);
        else
            TraceLine("ERROR exFAT: damaged live entry %s (cluster %u, size %llu): %llu clusters of its chain (the "
                      "first %llu) are free in the allocation bitmap; %llu clusters claimed",
                      path.c_str(), unsigned(set.firstCluster), (unsigned long long)set.dataLength,
                      (unsigned long long)free, (unsigned long long)firstFree, (unsigned long long)claimed);
    }

    SearchSession& session_;
    ExfatBoot boot_;
    ExfatFatReader fat_;
    std::unordered_set<uint64_t> visited_;
    std::vector<Folder> deletedFolders_;
};

}  // namespace

uint32_t ExfatLocalFatTime(const ExfatTimestamp& time) {
    const uint32_t stored = time.packed;
    if (!time.OffsetValid()) return stored;
    const uint32_t date = stored >> 16, clock = stored & 0xFFFF;
    std::tm t{};
    t.tm_year = int(date >> 9) + 80;
    t.tm_mon = int((date >> 5) & 15) - 1;
    t.tm_mday = int(date & 31);
    t.tm_hour = int(clock >> 11);
    t.tm_min = int((clock >> 5) & 63);
    t.tm_sec = int(clock & 31) * 2 + time.tenMs / 100;
    if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_hour > 23 || t.tm_min > 59) return stored;
    const std::time_t moment = timegm(&t) - std::time_t(time.OffsetMinutes()) * 60;
    std::tm local{};
    if (!localtime_r(&moment, &local)) return stored;
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107) return stored;
    const uint32_t localDate = uint32_t((year - 1980) << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
    const uint32_t localClock = uint32_t(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    return localDate << 16 | localClock;
}

PendingFile PendingExfatFile(SearchSession& session, const ExfatBoot& boot, ExfatFatReader& fat, const ExfatEntrySet& set,
                             const std::string& folder) {
    PendingFile p;
    p.record = RecordOfExfatSet(set);
    p.record.folder = folder;
    p.planned = PlannedChain(session, boot, fat, set, JoinPath(folder, set.name));
    p.layout = set.NoFatChain() ? ClusterLayout::Contiguous
                                : p.planned.empty() ? ClusterLayout::Guess : ClusterLayout::Planned;
    return p;
}

DelFileInfo RecordOfExfatSet(const ExfatEntrySet& set) {
    DelFileInfo record;
    record.name = set.name.empty() ? "#" + std::to_string(set.firstCluster) : set.name;
    record.attributes = uint8_t(set.attributes & 0x3F);
    const uint32_t created = ExfatLocalFatTime(set.created);
    const uint32_t modified = ExfatLocalFatTime(set.modified);
    record.created = FatTime{uint16_t(created >> 16), uint16_t(created & 0xFFFF)};
    record.modified = FatTime{uint16_t(modified >> 16), uint16_t(modified & 0xFFFF)};
    record.fileSize = set.dataLength;
    record.startCluster = set.firstCluster;
    return record;
}

int ScanExfatVolume(SearchSession& session) {
    if (!session.volume) return 0;
    std::optional<ExfatBoot> boot = ExfatBootOf(*session.volume);
    if (!boot) return 0;
    ExfatScan scan(session, *boot);
    scan.Run();
    return 0;
}

}  // namespace veld
