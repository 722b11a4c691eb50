// The directory-entry scanner: reads FAT directories straight from the
// source, one cluster-size block at a time, and interprets their 32-byte
// entries itself, so that deleted entries and the long names of deleted
// files come back.
#include "finder/directory_scanner.h"

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <unordered_set>
#include <vector>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "finder/cluster_classifier.h"
#include "finder/del_file_info.h"
#include "finder/deleted_files.h"
#include "finder/directory_slot.h"
#include "finder/orphan_folder_group.h"
#include "finder/registry.h"
#include "volume/boot_sector.h"
#include "volume/boot_sector_trace.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

// A long-name (VFAT) piece, stored in a slot of its own before the short
// entry; the pieces come last piece first.
namespace lfn {
constexpr int Sequence = 0;      // u8  bits 0-5 piece number (1..20), 0x40 last piece, 0xE5 deleted
constexpr int Chars1 = 1;        // 5 UTF-16LE characters
constexpr int Attributes = 11;   // u8  always 0x0F
constexpr int Chars2 = 14;       // 6 UTF-16LE characters
constexpr int Chars3 = 28;       // 2 UTF-16LE characters
constexpr uint8_t Attribute = 0x0F;
}  // namespace lfn

constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kDeletedKanjiMark = 0x05;  // a name whose real first byte is 0xE5
constexpr uint8_t kNotEndMark = 0x01;        // below 0x20 but not an end of directory
// Sequence numbers from here on come from deleted pieces (0xE5 & 0x3F = 37):
// such a run is taken in disk order without sequence checks.
constexpr int kDeletedRunSequence = 35;

// Folders nest no deeper than this; a card whose folders point back to their
// ancestors would otherwise make the descent repeat.
constexpr int kMaxDepth = 32;
// No real cluster is larger than 256 KB; a damaged boot sector must not make
// the scanner allocate more.
constexpr uint32_t kMaxBlockBytes = 2u << 20;

// A first byte below 0x20 ends the directory, except 0x05 (deleted), 0x01,
// and the sequence byte of a long-name piece: pieces 2 to 20 of a live name
// (0x02..0x14) would otherwise end the directory in the middle of a name.
bool IsEndOfDirectory(uint8_t first, uint8_t attributes) {
    if (first >= 0x20 || first == kNotEndMark || first == kDeletedKanjiMark) return false;
    return !(attributes == lfn::Attribute && first != 0);
}

// Appends one UTF-16 code unit sequence as UTF-8; pairs are joined.
void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The 13 characters of a long-name piece as UTF-8: the text ends at the
// first 0x0000, 0xFFFF padding is dropped, lone surrogates become U+FFFD.
std::string LongNamePieceText(const ByteReader& slot) {
    uint16_t units[13];
    int n = 0;
    for (int k = 0; k < 5; ++k) units[n++] = slot.le16(lfn::Chars1 + 2 * k);
    for (int k = 0; k < 6; ++k) units[n++] = slot.le16(lfn::Chars2 + 2 * k);
    for (int k = 0; k < 2; ++k) units[n++] = slot.le16(lfn::Chars3 + 2 * k);
    std::string out;
    for (int k = 0; k < 13; ++k) {
        uint32_t u = units[k];
        if (u == 0x0000) break;
        if (u == 0xFFFF) continue;
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < 13 && units[k + 1] >= 0xDC00 && units[k + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (units[k + 1] - 0xDC00));
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

// A block the classifier took for JPEG data can still be a directory: an
// entry with start cluster 0x01FF holds the bytes FF 01, long-name padding
// holds FF FF. It is read as one when every slot up to the end of the
// directory is structurally an entry (and there is at least one).
bool LooksLikeDirectoryBlock(const uint8_t* block, size_t bytes) {
    size_t entries = 0;
    for (size_t at = 0; at + dirent::Size <= bytes; at += dirent::Size) {
        ByteReader slot(block + at, dirent::Size);
        if (IsEndOfDirectory(slot.u8(0), slot.u8(dirent::Attributes))) break;
        if (!SlotNamesAnEntry(slot)) return false;
        ++entries;
    }
    return entries > 0;
}

bool HasDotEntries(const uint8_t* block, size_t bytes) {
    ByteReader r(block, bytes);
    return r.equals(0, ".       ", 8) && r.equals(dirent::Size, "..      ", 8);
}

// A folder's first cluster that is still its own: "." and ".." first, and
// "." naming this very cluster (start cluster high word at 20, low at 26).
bool IsOwnFirstBlock(const uint8_t* block, size_t bytes, uint64_t cluster) {
    if (!HasDotEntries(block, bytes)) return false;
    ByteReader r(block, bytes);
    return (uint64_t(r.le16(dirent::ClusterHigh)) << 16 | r.le16(dirent::ClusterLow)) == cluster;
}

// The cluster the ".." entry (the second slot) names; 0 is the root.
uint64_t DotDotCluster(const uint8_t* block) {
    ByteReader r(block + dirent::Size, dirent::Size);
    return uint64_t(r.le16(dirent::ClusterHigh)) << 16 | r.le16(dirent::ClusterLow);
}

std::string TrimTrailingBlanks(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// "NAME.EXT" of an entry, blanks removed; the dot stays when the extension
// is blank ("DCIM.").
std::string ShortComponent(const DirEntry& e) {
    return TrimTrailingBlanks(std::string(reinterpret_cast<const char*>(e.data()), 8)) + "." +
           TrimTrailingBlanks(std::string(reinterpret_cast<const char*>(e.data() + 8), 3));
}

struct ScanContext {
    std::unordered_set<uint64_t> visited;  // start clusters of folders already read in this call tree
};

class FolderScan {
public:
    // lost: the folder itself is deleted (its entry, or a folder above it).
    FolderScan(SearchSession& session, ScanContext& context, int depth, bool contiguous, const std::string& path,
               bool lost = false)
        : session_(session), volume_(*session.volume), boot_(session.volume->bootSector), context_(context),
          depth_(depth), contiguous_(contiguous), lost_(lost || contiguous), path_(path),
          indent_(size_t(depth > 0 ? depth : 0) * 2, ' ') {}

    void Run(uint64_t start, bool fixedRoot);
    // The folder read is the card's root: its sub-folders' ".." entries say 0.
    void SetRoot() { root_ = true; }

private:
    void WalkEntries(uint8_t* block, size_t bytes);
    void ShortEntry(uint8_t* slotBytes, bool deleted);
    void Descend(const DirEntry& entry, const std::string& longName);

    SearchSession& session_;
    DiskVolume& volume_;
    const BootSector& boot_;
    ScanContext& context_;
    int depth_;
    bool contiguous_;
    bool lost_;
    // A lost folder read through the FAT chain the card still holds for it
    // (its first cluster allocated, no live entry leading there).
    bool chainHolds_ = false;
    bool root_ = false;
    uint64_t start_ = 0;
    // A lost sub-folder's ".." must name the folder its entry stood in
    // (parentLink_, 0 for the root); else its first cluster went to another
    // folder, which is read where its own ".." places it.
    std::optional<uint64_t> parentLink_;
    // The block being walked is still the lost folder's own (its first
    // cluster with "." naming it, or a continuation that parses as entries):
    // entries in it that look live are lost with the folder.
    bool lostBlock_ = false;
    std::string path_;
    std::string indent_;

    std::string longName_;   // the long-name accumulator
    int expected_ = 0;       // expected sequence number; 0 when no run is open
    int blockFiles_ = 0;
    int blockFolders_ = 0;
    bool end_ = false;
};

void FolderScan::Run(uint64_t start, bool fixedRoot) {
    start_ = start;
    ByteReader b(boot_.data(), boot_.size());
    const uint32_t bytesPerSector = b.le16(bpb::BytesPerSector);
    const uint32_t sectorsPerCluster = b.u8(bpb::SectorsPerCluster);
    const uint32_t rootEntries = b.le16(bpb::RootEntries);
    const uint32_t blockBytes = bytesPerSector * sectorsPerCluster;
    if (blockBytes < dirent::Size || blockBytes > kMaxBlockBytes) {
        TraceLine("%s<<End OF Dir", indent_.c_str());
        return;
    }

    // The last cluster number that names a data cluster on this volume, and
    // the map's size: contiguous mode never walks past either.
    const uint64_t lastCluster = volume_.clusterCount > 0 ? uint64_t(volume_.clusterCount) + 1 : 0;
    const ClusterMap& map = session_.clusterMap;
    const uint64_t mapSize = map.size();

    // A start cluster outside the volume or the map names no folder.
    if (!fixedRoot && (start < 2 || start > lastCluster || (map.present && start >= mapSize))) {
        TraceLine("%s<<End OF Dir", indent_.c_str());
        return;
    }
    if (session_.directoryPhase.load()) {
        session_.progress.Report(PhaseFolder, -1, "フォルダ検索 " + path_);
    }

    // A lost folder follows its FAT chain where the card still holds it (its
    // first cluster allocated though no live entry reached it: a root
    // rewritten with the FATs intact), else takes the clusters after its
    // first. A search over part of the card has not read the live tree, so
    // there an allocated cluster may be a live folder's and keeps its rule.
    if (lost_ && !fixedRoot) {
        chainHolds_ = session_.options.rangeOnly == 0 && AllocatedOnCard(map, start);
        contiguous_ = !chainHolds_;
    }

    std::vector<uint64_t> chain;  // the FAT chain
    uint64_t blockCount = 0;
    uint64_t rootBytes = 0;
    if (fixedRoot) {
        // The root area is read in blocks of one cluster; a last partial
        // block only up to the end of the area.
        rootBytes = uint64_t(rootEntries) * dirent::Size;
        blockCount = (rootBytes + blockBytes - 1) / blockBytes;
    } else {
        // Contiguous mode only needs the start; the chain is not walked.
        // Contiguous mode, and a start no FAT entry can name, read on from the start.
        if (!contiguous_ && start <= 0xFFFFFFFFu) blockCount = uint64_t(CollectChain(map, volume_, start, &chain));
        if (chain.empty()) blockCount = std::max<uint64_t>(blockCount, 1);
    }

    std::vector<uint8_t> block(blockBytes);
    for (uint64_t i = 0;; ++i) {
        if (session_.Cancelled()) break;
        if ((fixedRoot || !contiguous_) && i >= blockCount) break;

        uint64_t cluster = 0;
        int64_t offset = 0;
        uint32_t bytes = blockBytes;
        if (fixedRoot) {
            offset = int64_t(start * bytesPerSector + i * blockBytes);
            uint64_t left = rootBytes - i * blockBytes;
            if (left < bytes) bytes = uint32_t(left);
        } else {
            cluster = contiguous_ ? start + i : (chain.empty() ? start : chain[size_t(i)]);
            if (cluster < 2 || cluster > lastCluster || (map.present && cluster >= mapSize)) break;
            // No cluster is read as a directory twice in a search: what follows
            // it was walked then as well (or by its own scan), and reading it
            // again would make a run of folder-like clusters cost quadratic time.
            if (DirectoryBlockScanned(map, cluster)) break;
            // Taken one after another, a folder's clusters end where the card
            // gives one to another file.
            if (contiguous_ && i > 0 && AllocatedOnCard(map, cluster)) break;
            offset = ClusterOffset(volume_, cluster);
        }

        uint32_t done = 0;
        if (offset < 0 || !DiskIO_ReadAt(&volume_, uint64_t(offset), block.data(), bytes, &done) || done < bytes) break;

        ContentClass contentClass = ClassifyCluster(volume_, block.data(), bytes);
        bool acceptable = contentClass == ContentClass::Folder || contentClass == ContentClass::None;
        if (!acceptable && (contentClass == ContentClass::JpegData || contentClass == ContentClass::JpegEnd))
            acceptable = LooksLikeDirectoryBlock(block.data(), bytes);
        // Consecutive clusters are only a guess at a folder's extent: one that
        // holds no entry with a name is not part of it.
        if (contiguous_ && !BlockHasNamedEntry(block.data(), bytes)) acceptable = false;
        // A sub-folder's first cluster begins with "." and "..". A live
        // entry's folder that lost them is still read where every slot is an
        // entry: the folder is the one its entry names, not a lost one.
        if (i == 0 && depth_ > 0 && !HasDotEntries(block.data(), bytes) &&
            (lost_ || !LooksLikeDirectoryBlock(block.data(), bytes)))
            break;
        // A cluster after the first that begins with "." and ".." is another
        // folder's first one.
        if (i > 0 && HasDotEntries(block.data(), bytes)) break;
        if (i == 0 && lost_ && parentLink_ && !(IsOwnFirstBlock(block.data(), bytes, cluster) &&
                                                 DotDotCluster(block.data()) == *parentLink_))
            break;
        if (!acceptable) break;
        if (!fixedRoot) MarkDirectoryBlockScanned(session_.clusterMap, cluster);
        if (!fixedRoot && i == 0) session_.folderPaths.emplace(start, path_);

        blockFiles_ = 0;
        blockFolders_ = 0;
        // Only a cluster the card calls free, or one of the chain it still
        // holds for a lost folder: a live folder's own block (a search over
        // part of the card meets those too) keeps its rule.
        lostBlock_ = lost_ && !fixedRoot && (chainHolds_ || !AllocatedOnCard(map, cluster)) &&
                     (i == 0 ? IsOwnFirstBlock(block.data(), bytes, cluster) : LooksLikeDirectoryBlock(block.data(), bytes));
        WalkEntries(block.data(), bytes);
        if (blockFiles_ + blockFolders_ > 0 && !fixedRoot)
            SetClusterState(session_.clusterMap, cluster, lost_ ? ClusterUse::DeletedFolder : ClusterUse::LiveFolder);
        if (end_) break;
    }
    TraceLine("%s<<End OF Dir", indent_.c_str());
}

void FolderScan::WalkEntries(uint8_t* block, size_t bytes) {
    for (size_t at = 0; at + dirent::Size <= bytes; at += dirent::Size) {
        if (session_.Cancelled() || end_) return;
        uint8_t* slotBytes = block + at;
        uint8_t first = slotBytes[0];
        const uint8_t attributes = slotBytes[dirent::Attributes];

        if (IsEndOfDirectory(first, attributes)) {
            end_ = true;
            return;
        }

        // Deleted short entry: the first name byte (and the second when it
        // is not printable) becomes "#" so the name can be shown.
        bool deleted = false;
        if ((first == kDeletedMark || first == kDeletedKanjiMark) && attributes != lfn::Attribute) {
            deleted = true;
            slotBytes[0] = '#';
            if (slotBytes[1] < 0x20 || slotBytes[1] > 0x7E) slotBytes[1] = '#';
            first = '#';
        }

        // An entry that looks live in a lost folder's own cluster went with
        // the folder (only the folder's entry was marked, or the root that
        // led to it was rewritten); one in a cluster that is not surely the
        // folder's means that cluster belongs to something else by now.
        if (lost_ && !deleted && attributes != lfn::Attribute && first != '#' && first != '.') {
            if (lostBlock_) {
                deleted = true;
            } else if (contiguous_) {
                end_ = true;
                return;
            }
        }

        if (attributes == lfn::Attribute) {
            ByteReader slot(slotBytes, dirent::Size);
            std::string piece = LongNamePieceText(slot);
            int n = first & 0x3F;
            if (expected_ == 0) {
                expected_ = n;
                longName_ = piece;
            } else if (n == expected_ - 1) {
                if (expected_ < kDeletedRunSequence) expected_ = n == 1 ? 0 : n;
                longName_ = piece + longName_;
            } else if (expected_ >= kDeletedRunSequence) {
                longName_ = piece + longName_;
            } else {
                expected_ = 0;
                longName_.clear();
            }
            TraceLine("%s[VFAT]%-13.13s Seq=%d End=%d Del=%d SEQ(%0X)", "", piece.c_str(), n, (first >> 6) & 1,
                      (first >> 7) & 1, first);
            continue;
        }
        ShortEntry(slotBytes, deleted);
    }
}

void FolderScan::ShortEntry(uint8_t* slotBytes, bool deleted) {
    DirEntry entry;
    for (int k = 0; k < dirent::Size; ++k) entry[size_t(k)] = slotBytes[k];
    const uint8_t first = entry[0];
    const uint8_t attributes = entry[dirent::Attributes];
    const uint32_t start = EntryStartCluster(entry);
    ByteReader r(entry.data(), entry.size());

    std::string name(reinterpret_cast<const char*>(entry.data()), 8);
    std::string ext(reinterpret_cast<const char*>(entry.data() + 8), 3);
    std::string created = FatDateTimeText(r.le16(dirent::CreateDate), r.le16(dirent::CreateTime));
    std::string written = FatDateTimeText(EntryWriteDate(entry), EntryWriteTime(entry));
    std::string attributeText = FatAttributeText(attributes);
    TraceLine("%s(%02x)%-8.8s.%-3.3s(%s) %s %s %s %s c=%4X (0x%X)size=%6d", "", first, name.c_str(), ext.c_str(),
              longName_.c_str(), deleted ? "DEL" : "   ", attributeText.c_str(), created.c_str(), written.c_str(),
              start, 0, int(EntrySize(entry)));

    expected_ = 0;
    const bool isFolder = IsDirectoryAttribute(attributes);
    if (isFolder) {
        if (first != '.') ++session_.folderCount;
        ++blockFolders_;
    } else {
        ++session_.fileCount;
        ++blockFiles_;
        if (deleted)
            MarkChain(session_.clusterMap, volume_, start, ClusterUse::DeletedFile, false);
        else if (uint64_t run = 0; MarkChain(session_.clusterMap, volume_, start, ClusterUse::LiveFile, true, &run) > 0 && run > 1)
            session_.liveRuns[start] = start + run - 1;
    }

    // A volume label (attribute 0x08 without the folder bit) names the card,
    // not a file, deleted or not.
    const bool label = !isFolder && (attributes & 0x08) != 0;
    if (deleted && !label) {
        if (isFolder)
            RegisterDeletedFolder(session_, entry, longName_, path_);
        else
            RegisterDeletedEntry(session_, entry, longName_, path_);
    }
    std::string longName;
    longName.swap(longName_);

    if (isFolder && (!contiguous_ || deleted) && first != '.') Descend(entry, longName);
}

void FolderScan::Descend(const DirEntry& entry, const std::string& longName) {
    const uint32_t start = EntryStartCluster(entry);
    if (depth_ + 1 > kMaxDepth || start < 2) return;
    // A folder already read in this call tree (an ancestor, or one reached
    // twice through damaged entries) is not read again.
    if (!context_.visited.insert(start).second) return;

    std::string name(reinterpret_cast<const char*>(entry.data()), 8);
    TraceLine("%s>>Search Sub dir %8.8s", indent_.c_str(), name.c_str());

    std::string path = path_;
    if (!path.empty()) path += '\\';
    path += longName.empty() ? ShortComponent(entry) : longName;

    FolderScan sub(session_, context_, depth_ + 1, contiguous_, path, lost_ || entry[0] == '#');
    sub.parentLink_ = root_ ? 0 : start_;
    sub.Run(start, false);
}

// The parent a folder's first cluster names in its ".." entry (0: the root),
// when the cluster begins with "." naming itself and ".."; nothing else.
std::optional<uint64_t> ParentLink(SearchSession& session, uint64_t cluster) {
    DiskVolume& volume = *session.volume;
    const uint64_t lastCluster = volume.clusterCount > 0 ? uint64_t(volume.clusterCount) + 1 : 0;
    const ClusterMap& map = session.clusterMap;
    if (cluster < 2 || cluster > lastCluster || (map.present && cluster >= map.size())) return std::nullopt;
    uint8_t dots[2 * dirent::Size];
    uint32_t done = 0;
    const int64_t offset = ClusterOffset(volume, cluster);
    if (volume.clusterSize < sizeof dots || offset < 0 ||
        !DiskIO_ReadAt(&volume, uint64_t(offset), dots, sizeof dots, &done) || done < sizeof dots)
        return std::nullopt;
    if (!IsOwnFirstBlock(dots, sizeof dots, cluster)) return std::nullopt;
    return DotDotCluster(dots);
}

// The folder text a lost folder's entries go under and the folder to read
// for it: from the cluster, ".." links are followed up through folders no
// scan has read yet (at most kMaxDepth, never round a loop) to the first
// one whose parent was read (under that parent's text) or is gone (the
// root, which a format rewrote, or a link to what is no folder: under the
// group). That top folder's own name is lost with its parent's entry.
std::pair<uint64_t, std::string> PlaceLostFolder(SearchSession& session, uint64_t cluster) {
    std::unordered_set<uint64_t> met{cluster};
    uint64_t top = cluster;
    std::string above = kOrphanFolderGroup;
    std::optional<uint64_t> parent = ParentLink(session, top);
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        if (!parent || *parent == 0) break;
        if (auto known = session.folderPaths.find(*parent); known != session.folderPaths.end()) {
            // Under the folder its link names, unless that one lies as deep
            // as a descent may go (a chain of lost folders each naming the
            // one before would make every path longer than the last).
            if (std::count(known->second.begin(), known->second.end(), '\\') + 1 < kMaxDepth) above = known->second;
            break;
        }
        if (!met.insert(*parent).second || DirectoryBlockScanned(session.clusterMap, *parent)) break;
        const std::optional<uint64_t> grandparent = ParentLink(session, *parent);
        if (!grandparent) break;
        top = *parent;
        parent = grandparent;
    }
    std::string path = above;
    if (!path.empty()) path += '\\';
    return {top, path + UnnamedFolderName(top)};
}

}  // namespace

void ScanLostFolder(SearchSession& session, uint64_t cluster) {
    if (!session.volume) return;
    // The folder's files are decided together, as in the directory passes,
    // also when a damaged folder ends the scan with an exception.
    struct Hold {
        SearchSession& session;
        const bool holding = session.holdDeletedFiles;
        explicit Hold(SearchSession& s) : session(s) { session.holdDeletedFiles = true; }
        ~Hold() {
            if (holding) return;
            try {
                RegisterHeldFiles(session);
            } catch (...) {
                session.holdDeletedFiles = false;
                session.pendingFiles.clear();
            }
        }
    } hold(session);
    // Each round reads one folder above the cluster, with the folders its
    // entries lead to; a folder whose entry is gone from the one above is
    // read in a later round, under that one. Every round reads a folder not
    // read before, so the line up (at most kMaxDepth) bounds them.
    for (int round = 0; round <= kMaxDepth && !session.Cancelled(); ++round) {
        if (DirectoryBlockScanned(session.clusterMap, cluster)) break;
        auto [top, path] = PlaceLostFolder(session, cluster);
        if (DirectoryBlockScanned(session.clusterMap, top)) break;
        TraceLine(">>Search Lost Dir %llu as %s", (unsigned long long)top, path.c_str());
        ScanContext context;
        context.visited.insert(top);
        FolderScan scan(session, context, 0, true, path, true);
        scan.Run(top, false);
        if (top == cluster || !DirectoryBlockScanned(session.clusterMap, top)) break;
    }
}

int ScanDirectory(SearchSession& session, uint64_t start, int depth, bool fixedRoot, bool contiguous,
                  const std::string& path) {
    if (!session.volume) return 0;
    ScanContext context;
    if (!fixedRoot) context.visited.insert(start);
    FolderScan scan(session, context, depth, contiguous, path);
    scan.Run(start, fixedRoot);
    return 0;
}

int ScanFatRoot(SearchSession& session) {
    if (!session.volume) return 0;
    const BootSector& boot = session.volume->bootSector;
    const uint64_t start = RootDirectoryPosition(boot);
    const bool fixedRoot = !IsFat32Layout(boot);
    ScanContext context;
    if (!fixedRoot) context.visited.insert(start);
    FolderScan scan(session, context, 0, false, "");
    scan.SetRoot();
    scan.Run(start, fixedRoot);
    return 0;
}

}  // namespace veld
