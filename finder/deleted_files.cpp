#include "finder/deleted_files.h"

#include <algorithm>
#include <unordered_set>
#include <map>
#include <numeric>
#include <optional>
#include <string>
#include <tuple>

#include "base/format_text.h"
#include "base/jpeg_memory_decode.h"
#include "base/trace.h"
#include "finder/cluster_classifier.h"
#include "finder/content_fit.h"
#include "finder/media_carving.h"
#include "finder/registry.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"
#include "volume/range_prefetch.h"

namespace veld {
namespace {

// A file whose chain is gone skips at most this many clusters (or as many as
// it needs, if more) looking for free ones; past that it is cut short.
constexpr uint64_t kMinSkipBudget = 4096;
// Checked placements of one start kept for the pictures placed alike.
constexpr size_t kAlikeChecksKept = 8;
// Checked bytes kept for thumbnails, at most.
constexpr uint64_t kKeptBytesLimit = 256ull << 20;
constexpr int32_t kThumbnailLimit = 500;
// How far ahead of the checks the source is told what comes next.
constexpr uint64_t kPrefetchBytes = 256ull << 20;
// Pictures starting inside one picture's extent tried as written with it,
// and the bytes all such tries may read in one search.
constexpr size_t kPartnersPerPicture = 4;
constexpr uint64_t kInterleaveBytesLimit = 512ull << 20;
// Run lengths tried for the second of two pictures written together when
// its runs are not as long as the first one's.
constexpr uint64_t kSecondRuns[] = {1, 2, 4, 8, 16, 32};

enum class Kind : uint8_t { Other, Jpeg, Media };

struct Candidate {
    size_t order = 0;
    uint64_t start = 0;
    uint64_t size = 0;
    uint64_t needed = 0;
    ClusterLayout layout = ClusterLayout::Guess;
    ContentClass startClass = ContentClass::None;
    Kind kind = Kind::Other;
    bool decided = false;     // the state needs no placement (size 0, start unusable, start lost)
    bool startLost = false;   // its first cluster holds another file's data
    std::vector<uint64_t> clusters;
    uint64_t collected = 0;
    bool gaps = false;        // its clusters are not one run from the start
    ContentFit fit = ContentFit::Unknown;
    bool keepBytes = false;   // a thumbnail will be made from the checked bytes
    std::vector<uint8_t> bytes;
    uint32_t time = 0;        // creation (else write) date and time, FAT words
    int twinOf = -1;          // the same entry met twice: decided as the first
    bool lostContest = false;
};

bool IsJpegName(const DelFileInfo& r) {
    if (ShortExtensionOf(r) == "JPG") return true;
    std::string ext;
    if (r.name) {
        if (auto dot = r.name->rfind('.'); dot != std::string::npos) ext = r.name->substr(dot + 1);
    }
    UpperAscii(ext);
    return ext == "JPEG" || ext == "JPE";
}

uint32_t EntryTime(const DelFileInfo& r) {
    const FatTime& t = r.created.date != 0 ? r.created : r.modified;
    return uint32_t(t.date) << 16 | t.time;
}

// A cluster a live file or folder holds, or that the card calls allocated.
bool Live(const ClusterMap& map, uint64_t c) {
    const ClusterUse state = ClusterState(map, c);
    return state == ClusterUse::LiveFile || state == ClusterUse::LiveFolder || state == ClusterUse::DeletedFolder || state == ClusterUse::End ||
           AllocatedOnCard(map, c);
}

// A cluster another deleted file claims: its start, or what was placed for it.
bool ClaimedByDeleted(const SearchSession& session, uint64_t c) {
    return ClusterState(session.clusterMap, c) == ClusterUse::DeletedFile && !session.lostStarts.count(c);
}

uint64_t ClusterEnd(const DiskVolume& volume, const ClusterMap& map) {
    uint64_t end = map.present ? map.size() : 0;
    if (volume.clusterCount > 0) end = std::min(end, uint64_t(volume.clusterCount) + 2);
    return end;
}

// The runs of clusters placed for deleted files so far in one decision, so
// that a placement steps over a run another file took in one step instead
// of cluster by cluster (an entry claiming 4 GiB would otherwise walk the
// whole card once for every such entry). The starts whose first cluster
// holds another file's data are no claim and are never stepped over.
class PlacedRuns {
public:
    explicit PlacedRuns(const std::unordered_set<uint64_t>& lostStarts)
        : lostStarts_(lostStarts.begin(), lostStarts.end()) {
        std::sort(lostStarts_.begin(), lostStarts_.end());
    }
    void Add(const std::vector<uint64_t>& clusters) {
        for (size_t j = 0; j < clusters.size();) {
            if (clusters[j] < 2) {
                ++j;
                continue;
            }
            size_t e = j;
            while (e + 1 < clusters.size() && clusters[e + 1] == clusters[e] + 1) ++e;
            AddRun(clusters[j], clusters[e]);
            j = e + 1;
        }
    }
    // The last cluster of the placed run from c on that holds no lost start
    // after c; 0 when c lies in no placed run.
    uint64_t RunEnd(uint64_t c) const {
        auto it = runs_.upper_bound(c);
        if (it == runs_.begin()) return 0;
        --it;
        if (it->second < c) return 0;
        uint64_t end = it->second;
        auto lost = std::upper_bound(lostStarts_.begin(), lostStarts_.end(), c);
        if (lost != lostStarts_.end() && *lost <= end) end = *lost - 1;
        return end;
    }

private:
    void AddRun(uint64_t first, uint64_t last) {
        auto it = runs_.upper_bound(first);
        if (it != runs_.begin() && std::prev(it)->second + 1 >= first) {
            --it;
            first = it->first;
            last = std::max(last, it->second);
            it = runs_.erase(it);
        }
        while (it != runs_.end() && it->first <= last + 1) {
            last = std::max(last, it->second);
            it = runs_.erase(it);
        }
        runs_.emplace(first, last);
    }

    std::map<uint64_t, uint64_t> runs_;  // first -> last, apart and not touching
    std::vector<uint64_t> lostStarts_;
};

// Places a file from its start on: strict leaves out what other deleted files
// claim (placed, stepped over a run at a time) as well as the live clusters.
void Place(SearchSession& session, Candidate& k, const std::vector<uint64_t>& planned, bool strict,
           const PlacedRuns* placed = nullptr) {
    const ClusterMap& map = session.clusterMap;
    const uint64_t end = ClusterEnd(*session.volume, map);
    // A chain may lead anywhere on the card; a run only to its end.
    const uint64_t room = k.layout == ClusterLayout::Planned ? end : end > k.start ? end - k.start : 0;
    // The list holds what was found, never a reservation for what the size
    // claims: an entry may claim 4 GiB on a card of 64 MiB.
    const uint64_t most = std::min<uint64_t>(k.needed, room);
    k.clusters.clear();
    k.clusters.shrink_to_fit();
    k.collected = 0;
    k.gaps = false;
    if (most == 0) return;
    k.clusters.push_back(k.start);
    k.collected = 1;
    switch (k.layout) {
    case ClusterLayout::Planned:
        for (size_t i = 1; i < planned.size() && i < most; ++i) {
            const uint64_t c = planned[i];
            if (c < 2 || c >= end || Live(map, c)) break;
            k.clusters.push_back(c);
            k.gaps = k.gaps || c != k.start + i;
        }
        break;
    case ClusterLayout::Contiguous:
        for (uint64_t i = 1; i < most; ++i) {
            const uint64_t c = k.start + i;
            if (Live(map, c)) break;
            k.clusters.push_back(c);
        }
        break;
    case ClusterLayout::Guess: {
        uint64_t skipped = 0;
        const uint64_t budget = std::max(kMinSkipBudget, k.needed);
        for (uint64_t c = k.start + 1; k.clusters.size() < most && c < end; ++c) {
            if (const uint64_t runEnd = strict && placed ? placed->RunEnd(c) : 0; runEnd >= c) {
                skipped += runEnd - c + 1;
                if (skipped > budget) break;
                k.gaps = true;
                c = runEnd;
                continue;
            }
            if (Live(map, c) || (strict && ClaimedByDeleted(session, c))) {
                if (++skipped > budget) break;
                k.gaps = true;
                continue;
            }
            k.clusters.push_back(c);
        }
        break;
    }
    }
    k.collected = k.clusters.size();
    k.gaps = k.gaps || k.collected < k.needed;
}

void MarkPlaced(SearchSession& session, const Candidate& k) {
    for (uint64_t c : k.clusters)
        if (c >= 2) SetClusterState(session.clusterMap, c, ClusterUse::DeletedFile);
}

void MarkConfirmed(SearchSession& session, const Candidate& k) {
    for (uint64_t c : k.clusters)
        if (c >= 2) session.clusterMap.confirmed.Set(c);
}

// Checks a JPEG's placement; where it does not fit, the placement that
// leaves out only the live clusters, then a rebuild piece by piece. A
// placement with gaps that fits must decode clean as well.
void CheckJpeg(SearchSession& session, Candidate& k, const std::vector<uint64_t>& planned) {
    DiskVolume& volume = *session.volume;
    std::vector<uint8_t> bytes;
    JpegFit fit = CheckJpegFit(volume, k.clusters, k.size, &bytes);
    if (!Confirms(fit.fit) && k.layout == ClusterLayout::Guess) {
        Candidate loose = k;
        Place(session, loose, planned, false);
        if (loose.clusters != k.clusters) {
            std::vector<uint8_t> looseBytes;
            const JpegFit looseFit = CheckJpegFit(volume, loose.clusters, k.size, &looseBytes);
            if (Confirms(looseFit.fit)) {
                k.clusters = std::move(loose.clusters);
                k.collected = loose.collected;
                k.gaps = loose.gaps;
                fit = looseFit;
                bytes = std::move(looseBytes);
            }
        }
    }
    if (!Confirms(fit.fit) && fit.faultAt != JpegStructureScan::kNoFault && !fit.unreadable) {
        const ClusterMap& map = session.clusterMap;
        Reassembly rebuilt = ReassembleJpeg(volume, k.clusters, k.size, [&](uint64_t c) {
            return !Live(map, c) && !map.confirmed.Test(c);
        });
        if (Confirms(rebuilt.fit.fit)) {
            k.clusters = std::move(rebuilt.clusters);
            k.collected = uint64_t(std::count_if(k.clusters.begin(), k.clusters.end(), [](uint64_t c) { return c >= 2; }));
            k.gaps = true;
            fit = rebuilt.fit;
            bytes = std::move(rebuilt.bytes);
        }
    }
    bool gaps = false;
    for (size_t i = 1; i < k.clusters.size(); ++i) gaps = gaps || k.clusters[i] != k.clusters[i - 1] + 1;
    k.gaps = gaps || k.collected < k.needed;
    // Pieces that end right can still join two pictures' data.
    if (Confirms(fit.fit) && k.gaps && !DecodesClean(bytes)) fit.fit = ContentFit::Fails;
    k.fit = fit.fit;
    if (k.keepBytes && Confirms(k.fit)) k.bytes = std::move(bytes);
}

// A clip, HEIF or RAW file in one run from its start: its walk's length
// against its size. Its metadata comes with it.
void CheckMedia(SearchSession& session, Candidate& k, DelFileInfo& record) {
    uint64_t walked = 0;
    bool partly = false;
    ReadMediaOfRecord(session, record, k.start, k.startClass, &walked, &partly);
    if (record.media.format == 0 || k.gaps) return;  // nothing to judge by
    k.fit = MediaFitOf(walked, partly, k.size, session.volume->clusterSize);
}

// The clusters two files written at the same time took, FAT giving each the
// next free cluster as its data came: from the first one's start, runs of
// firstRun clusters for it (the distance between their starts) and
// secondRun for the other in turn, the rest to one of them once the other
// has all it needs. Live clusters and those of confirmed files are skipped.
void InterleavedLists(const SearchSession& session, const Candidate& first, const Candidate& second,
                      uint64_t firstRun, uint64_t secondRun, std::vector<uint64_t>& a, std::vector<uint64_t>& b) {
    const ClusterMap& map = session.clusterMap;
    const uint64_t end = ClusterEnd(*session.volume, map);
    a.clear();
    b.clear();
    bool firstsTurn = true;
    uint64_t inRun = 0;
    for (uint64_t c = first.start; c < end && (a.size() < first.needed || b.size() < second.needed);) {
        std::vector<uint64_t>& to = firstsTurn ? a : b;
        if (to.size() >= (firstsTurn ? first.needed : second.needed)) {
            firstsTurn = !firstsTurn;
            inRun = 0;
            continue;
        }
        if (Live(map, c) || map.confirmed.Test(c)) {
            ++c;
            continue;
        }
        to.push_back(c++);
        if (++inRun == (firstsTurn ? firstRun : secondRun)) {
            firstsTurn = !firstsTurn;
            inRun = 0;
        }
    }
}

// From a file's start, the clusters no live or confirmed file holds.
void LeftOver(const SearchSession& session, const Candidate& k, std::vector<uint64_t>& list) {
    const ClusterMap& map = session.clusterMap;
    const uint64_t end = ClusterEnd(*session.volume, map);
    const uint64_t budget = std::max(kMinSkipBudget, k.needed);
    list.assign(1, k.start);
    uint64_t skipped = 0;
    for (uint64_t c = k.start + 1; c < end && list.size() < k.needed; ++c) {
        if (!Live(map, c) && !map.confirmed.Test(c)) list.push_back(c);
        else if (++skipped > budget) break;
    }
}

// Whether a picture's clusters hold it: the structure ends where its size
// does, and libjpeg reads every block clean to an end of image in the last
// cluster. bytes receives what was read when it does.
bool PictureHolds(DiskVolume& volume, const Candidate& k, const std::vector<uint64_t>& clusters, JpegFit& fit,
                  std::vector<uint8_t>& bytes) {
    if (clusters.size() < k.needed) return false;
    fit = CheckJpegFit(volume, clusters, k.size, &bytes);
    if (!Confirms(fit.fit) || bytes.size() != k.size) return false;
    JpegDecodeReport report;
    return JpegDecodesWhole(bytes.data(), bytes.size(), &report) && report.end <= k.size &&
           ClustersForBytes(report.end, volume.clusterSize) == k.needed;
}

// Pictures whose data the placement could not confirm, one starting inside
// the other's extent: tried as written at the same time (InterleavedLists).
// Each that then holds its picture takes those clusters, so two pictures
// rebuilt whole no longer claim each other's clusters. Pairs are taken by
// their starts, whatever order their entries were met in.
void RebuildInterleaved(SearchSession& session, std::vector<Candidate>& all) {
    auto open = [](const Candidate& k) {
        return k.kind == Kind::Jpeg && !k.decided && !k.startLost && k.twinOf < 0 && k.layout == ClusterLayout::Guess &&
               !Confirms(k.fit);
    };
    std::vector<size_t> pictures;
    for (size_t i = 0; i < all.size(); ++i)
        if (open(all[i])) pictures.push_back(i);
    std::sort(pictures.begin(), pictures.end(), [&](size_t x, size_t y) {
        return std::tie(all[x].start, all[x].order) < std::tie(all[y].start, all[y].order);
    });
    DiskVolume& volume = *session.volume;
    uint64_t spent = 0;
    std::vector<uint64_t> a, b;
    for (size_t p = 0; p < pictures.size(); ++p) {
        size_t partners = 0;
        for (size_t q = p + 1; q < pictures.size() && partners < kPartnersPerPicture; ++q) {
            Candidate& first = all[pictures[p]];
            Candidate& second = all[pictures[q]];
            if (second.start >= first.start + first.needed) break;
            if (second.start == first.start || Confirms(first.fit) || session.Cancelled()) continue;
            if (Confirms(second.fit)) continue;
            ++partners;
            // The first one's runs are as long as the distance between the
            // starts; the other's are tried as long, then as the usual
            // write sizes, while either picture is still not whole.
            const uint64_t firstRun = second.start - first.start;
            std::vector<uint64_t> secondRuns{firstRun};
            for (uint64_t r : kSecondRuns)
                if (r != firstRun) secondRuns.push_back(r);
            auto adopt = [&](Candidate& k, const std::vector<uint64_t>& list) {
                JpegFit fit;
                std::vector<uint8_t> bytes;
                if (Confirms(k.fit) || !PictureHolds(volume, k, list, fit, bytes)) return;
                k.clusters = list;
                k.collected = k.needed;
                k.gaps = true;
                k.fit = fit.fit;
                if (k.keepBytes) k.bytes = std::move(bytes);
                MarkPlaced(session, k);
                MarkConfirmed(session, k);
                TraceLine("cluster %llu: a picture written together with the one at %llu, rebuilt whole",
                          (unsigned long long)k.start, (unsigned long long)(&k == &first ? second.start : first.start));
            };
            for (uint64_t secondRun : secondRuns) {
                if (Confirms(first.fit) || Confirms(second.fit)) break;
                if (spent + first.size + second.size > kInterleaveBytesLimit) return;
                spent += first.size + second.size;
                InterleavedLists(session, first, second, firstRun, secondRun, a, b);
                adopt(first, a);
                adopt(second, b);
            }
            // One of them whole: the other may hold what it left.
            for (Candidate* k : {&first, &second}) {
                if (Confirms(first.fit) == Confirms(second.fit) || Confirms(k->fit)) continue;
                if (spent + k->size > kInterleaveBytesLimit) return;
                spent += k->size;
                LeftOver(session, *k, a);
                adopt(*k, a);
            }
        }
    }
}

// Which of two files claiming the same cluster keeps it: the one whose
// content fits, else the newer one, else the one starting later (written
// later on a card filled from its start), else the one met first.
using Strength = std::tuple<int, uint32_t, uint64_t, int64_t>;
Strength StrengthOf(const Candidate& k) {
    const int fit = k.fit == ContentFit::Exact ? 2 : k.fit == ContentFit::Slack ? 1 : 0;
    return {fit, k.time, k.start, -int64_t(k.order)};
}

// Files whose placements share a cluster: the weaker of each pair loses it.
void JudgeOverlaps(std::vector<Candidate>& all) {
    struct Run {
        uint64_t first, last;
        size_t who;
    };
    std::vector<Run> runs;
    for (size_t i = 0; i < all.size(); ++i) {
        const Candidate& k = all[i];
        if (k.decided || k.startLost || k.twinOf >= 0 || k.clusters.empty()) continue;
        for (size_t j = 0; j < k.clusters.size();) {
            if (k.clusters[j] < 2) {
                ++j;
                continue;
            }
            size_t e = j;
            while (e + 1 < k.clusters.size() && k.clusters[e + 1] == k.clusters[e] + 1) ++e;
            runs.push_back(Run{k.clusters[j], k.clusters[e], i});
            j = e + 1;
        }
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
    // Runs still open at the current one; a few suffice, since cards seldom
    // stack more than two files on one cluster. When more are stacked, the
    // strongest stay open, so that of any number on the same clusters only
    // the strongest keeps them.
    constexpr size_t kOpenLimit = 16;
    std::vector<Run> open;
    for (const Run& r : runs) {
        open.erase(std::remove_if(open.begin(), open.end(), [&](const Run& o) { return o.last < r.first; }), open.end());
        for (const Run& o : open) {
            if (o.who == r.who) continue;
            Candidate& a = all[o.who];
            Candidate& b = all[r.who];
            (StrengthOf(a) < StrengthOf(b) ? a : b).lostContest = true;
        }
        if (open.size() < kOpenLimit) {
            open.push_back(r);
            continue;
        }
        auto weakest = std::min_element(open.begin(), open.end(), [&](const Run& x, const Run& y) {
            return StrengthOf(all[x.who]) < StrengthOf(all[y.who]);
        });
        if (StrengthOf(all[weakest->who]) < StrengthOf(all[r.who])) *weakest = r;
    }
}

// A file that lost its clusters to a stronger one keeps its first and those
// no winner holds (the rest become holes): one owner per cluster past the
// starts, so saving every file does not write the same clusters over again.
void GiveUpLostClusters(std::vector<Candidate>& all) {
    std::unordered_set<uint64_t> owned;
    for (const Candidate& k : all)
        if (!k.decided && !k.startLost && k.twinOf < 0 && !k.lostContest)
            for (uint64_t c : k.clusters)
                if (c >= 2) owned.insert(c);
    for (Candidate& k : all) {
        if (k.decided || k.startLost || k.twinOf >= 0 || !k.lostContest) continue;
        for (size_t i = 1; i < k.clusters.size(); ++i)
            if (owned.count(k.clusters[i])) k.clusters[i] = 0;
        while (!k.clusters.empty() && k.clusters.back() < 2) k.clusters.pop_back();
        k.collected = uint64_t(std::count_if(k.clusters.begin(), k.clusters.end(), [](uint64_t c) { return c >= 2; }));
    }
}

int32_t StateOf(const Candidate& k) {
    if (k.lostContest) return StateOverwritten;
    if (Confirms(k.fit)) return StateComplete;
    if (k.fit == ContentFit::Fails) return k.collected < k.needed ? StateFragmented : StateMismatch;
    if (k.gaps) return StateFragmented;
    return StateComplete;
}

// What RegisterDeletedFiles reads, in its order: the start cluster of every
// file, then the extent from its start of every picture (whose content is
// checked), from the last start to the first. Sources read from one thread
// only are not told.
std::optional<RangePrefetch> PrefetchFor(SearchSession& session, const std::vector<PendingFile>& files,
                                         const std::vector<size_t>& byStart) {
    DiskVolume* volume = session.volume.get();
    if (!volume || !volume->device || !volume->device->PositionalReads() || volume->clusterSize == 0 ||
        files.size() < 2)
        return std::nullopt;
    const uint32_t cs = volume->clusterSize;
    const uint64_t end = volume->clusterCount > 0 ? uint64_t(volume->clusterCount) + 2 : 0;
    auto extent = [&](const DelFileInfo& r, uint64_t clusters) {
        if (r.startCluster < 2 || r.startCluster >= end || r.fileSize == 0) return ByteRange{};
        clusters = std::min(clusters, end - r.startCluster);
        return ByteRange{ClusterOffset(*volume, r.startCluster), int64_t(clusters * cs)};
    };
    std::vector<ByteRange> ranges;
    ranges.reserve(files.size() * 2);
    for (const PendingFile& f : files) ranges.push_back(extent(f.record, 1));
    for (size_t i : byStart) {
        const DelFileInfo& r = files[i].record;
        ranges.push_back(IsJpegName(r) && r.fileSize <= kMaxFitBytes ? extent(r, ClustersForBytes(r.fileSize, cs))
                                                                     : ByteRange{});
    }
    return std::optional<RangePrefetch>(std::in_place, *volume->device, std::move(ranges), kPrefetchBytes);
}

}  // namespace

void HoldOrRegister(SearchSession& session, PendingFile file) {
    if (session.holdDeletedFiles) {
        session.pendingFiles.push_back(std::move(file));
        return;
    }
    std::vector<PendingFile> one;
    one.push_back(std::move(file));
    RegisterDeletedFiles(session, std::move(one));
}

void RegisterHeldFiles(SearchSession& session) {
    session.holdDeletedFiles = false;
    std::vector<PendingFile> files;
    files.swap(session.pendingFiles);
    RegisterDeletedFiles(session, std::move(files));
}

void RegisterDeletedFiles(SearchSession& session, std::vector<PendingFile> files) {
    if (files.empty()) return;
    ClusterMap& map = session.clusterMap;
    DiskVolume* volume = session.volume.get();
    const uint32_t cs = volume ? volume->clusterSize : 0;
    std::vector<Candidate> all(files.size());

    // Placement goes from the file that starts last to the one that starts
    // first (below); the source is told ahead what is read in that order.
    std::vector<size_t> byStart(all.size());
    std::iota(byStart.begin(), byStart.end(), size_t(0));
    std::stable_sort(byStart.begin(), byStart.end(), [&](size_t a, size_t b) {
        return files[a].record.startCluster > files[b].record.startCluster;
    });
    std::optional<RangePrefetch> prefetch = PrefetchFor(session, files, byStart);

    // What each entry says, and what its start cluster holds.
    std::map<std::tuple<uint64_t, uint64_t, std::string, std::string, std::string>, size_t> seen;
    int32_t thumbnailsLeft = kThumbnailLimit - session.ThumbnailCount.load();
    uint64_t keptBytes = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (prefetch) prefetch->Reached(i);
        Candidate& k = all[i];
        DelFileInfo& r = files[i].record;
        k.order = i;
        k.start = r.startCluster;
        k.size = r.fileSize;
        k.layout = files[i].layout;
        k.time = EntryTime(r);
        k.needed = ClustersForBytes(r.fileSize, cs);
        // An entry is its folder's and its names (a short name alone when it
        // has no long one).
        const auto key = std::make_tuple(k.start, k.size, r.folder.value_or(std::string()),
                                         r.name.value_or(std::string()), ShortNameOf(r));
        if (auto [at, fresh] = seen.emplace(key, i); !fresh) {
            k.twinOf = int(at->second);
            continue;
        }
        const ClusterUse startState = ClusterState(map, k.start);
        if (r.fileSize == 0) {
            r.state = StateComplete;
            k.decided = true;
        } else if (!volume || cs == 0 || !map.present || k.start < 2) {
            r.state = StateInvalidStart;
            k.decided = true;
        } else if ((startState != ClusterUse::Empty && startState != ClusterUse::DeletedFile) ||
                   (k.layout != ClusterLayout::Planned && AllocatedOnCard(map, k.start)) ||
                   k.start >= ClusterEnd(*volume, map)) {
            // The start belongs to a live file or folder (or a file written
            // after the deletion, whose chain the card still holds).
            r.state = StateInUse;
            k.decided = true;
        }
        if (k.decided) continue;
        k.startClass = ReadAndClassifyCluster(*volume, k.start);
        if (IsJpegName(r)) {
            k.kind = Kind::Jpeg;
            if (k.startClass != ContentClass::JpegStart) {
                // Its first cluster holds no picture start: JPEG data of
                // another picture, or something else altogether.
                k.startLost = true;
                session.lostStarts.insert(k.start);
                r.state = k.startClass == ContentClass::JpegData || k.startClass == ContentClass::JpegEnd ? StateOverwritten : StateBroken;
            } else if (thumbnailsLeft > 0 && keptBytes + k.size <= kKeptBytesLimit) {
                k.keepBytes = true;
                --thumbnailsLeft;
                keptBytes += k.size;
            }
        } else if (IsMediaStartClass(k.startClass)) {
            k.kind = Kind::Media;
        }
    }

    // Placement, from the file that starts last to the one that starts
    // first; files sharing a start are placed alike before any is marked.
    PlacedRuns placed(session.lostStarts);
    for (size_t g = 0; g < byStart.size();) {
        size_t e = g;
        while (e < byStart.size() && all[byStart[e]].start == all[byStart[g]].start) ++e;
        // Pictures of this start placed alike check alike: the first one's
        // verdict stands for the others (entries stacked on one picture would
        // otherwise read it once each). Its placement before the check, and it.
        std::vector<std::pair<std::vector<uint64_t>, const Candidate*>> checked;
        for (size_t q = g; q < e; ++q) {
            if (prefetch) prefetch->Reached(files.size() + q);
            Candidate& k = all[byStart[q]];
            if (k.twinOf >= 0 || (k.decided && !k.startLost)) continue;
            Place(session, k, files[k.order].planned, true, &placed);
            if (k.startLost) continue;
            if (session.Cancelled()) continue;
            if (k.kind == Kind::Jpeg) {
                auto alike = std::find_if(checked.begin(), checked.end(), [&](const auto& c) {
                    return c.second->size == k.size && c.second->layout == k.layout && c.first == k.clusters;
                });
                if (alike != checked.end() && !k.keepBytes) {
                    k.clusters = alike->second->clusters;
                    k.collected = alike->second->collected;
                    k.gaps = alike->second->gaps;
                    k.fit = alike->second->fit;
                    continue;
                }
                std::vector<uint64_t> placement = k.clusters;
                CheckJpeg(session, k, files[k.order].planned);
                if (checked.size() < kAlikeChecksKept) checked.emplace_back(std::move(placement), &k);
            } else if (k.kind == Kind::Media) {
                CheckMedia(session, k, files[k.order].record);
            }
        }
        for (size_t q = g; q < e; ++q) {
            const Candidate& k = all[byStart[q]];
            if (k.twinOf >= 0 || k.startLost || k.decided) continue;
            MarkPlaced(session, k);
            placed.Add(k.clusters);
            if (Confirms(k.fit)) MarkConfirmed(session, k);
        }
        g = e;
    }
    if (volume && !session.Cancelled()) RebuildInterleaved(session, all);
    prefetch.reset();
    JudgeOverlaps(all);
    GiveUpLostClusters(all);

    std::vector<int32_t> states(all.size());
    for (size_t i = 0; i < all.size(); ++i) {
        const Candidate& k = all[i];
        states[i] = k.twinOf >= 0 ? 0 : (!k.decided && !k.startLost) ? StateOf(k) : files[i].record.state;
    }
    for (size_t i = 0; i < all.size(); ++i) {
        Candidate& k = all[i];
        DelFileInfo& r = files[i].record;
        const Candidate& by = k.twinOf >= 0 ? all[size_t(k.twinOf)] : k;
        r.state = states[by.order];
        if (!by.decided || by.startLost) {
            r.clusterList = by.clusters;
            r.clustersNeeded = int32_t(std::min<uint64_t>(by.needed, INT32_MAX));
            r.clustersCollected = int32_t(std::min<uint64_t>(by.collected, INT32_MAX));
            r.contentFit = uint8_t(by.fit);
            // Clusters the placement could not find leave no holes at the end.
            while (!r.clusterList.empty() && r.clusterList.back() < 2) r.clusterList.pop_back();
            if (by.collected == 0) r.clusterList.clear();
            if (k.twinOf < 0 && k.kind == Kind::Jpeg && Confirms(k.fit) && !k.gaps)
                session.checkedRuns[k.start] = k.start + k.needed - 1;
        }
        if (r.state == StateOverwritten || r.state == StateMismatch)
            TraceLine("%s: %s (cluster %llu)", r.name.value_or(std::string()).c_str(),
                      r.state == StateOverwritten ? "overwritten" : "content does not match its entry",
                      (unsigned long long)k.start);
        RegisterDecidedFile(session, std::move(r), by.startClass, std::move(k.bytes));
    }
}

void SettleOverwrittenStarts(SearchSession& session) {
    struct Run {
        uint64_t first, last;
        int32_t index;
    };
    std::vector<Run> runs;
    std::vector<int32_t> unchecked;
    const size_t count = session.gcDelFileList.Count();
    session.gcDelFileList.Lock();
    for (size_t i = 0; i < count; ++i) {
        const DelFileInfo* r = session.gcDelFileList.Get(i);
        if (!r || !r->listed || !r->hasClusterList()) continue;
        const bool confirmed = r->carved ? r->state == StateComplete : Confirms(ContentFit(r->contentFit));
        if (confirmed) {
            for (size_t j = 0; j < r->clusterList.size();) {
                if (r->clusterList[j] < 2) {
                    ++j;
                    continue;
                }
                size_t e = j;
                while (e + 1 < r->clusterList.size() && r->clusterList[e + 1] == r->clusterList[e] + 1) ++e;
                runs.push_back(Run{r->clusterList[j], r->clusterList[e], int32_t(i)});
                j = e + 1;
            }
        } else if (!r->carved && r->state == StateComplete && r->contentFit == uint8_t(ContentFit::Unknown)) {
            unchecked.push_back(int32_t(i));
        }
    }
    std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.first < b.first; });
    // reach[i]: the furthest any of runs 0..i reaches.
    std::vector<uint64_t> reach(runs.size());
    for (size_t i = 0; i < runs.size(); ++i) reach[i] = std::max(runs[i].last, i ? reach[i - 1] : 0);
    for (int32_t index : unchecked) {
        DelFileInfo* r = session.gcDelFileList.Get(size_t(index));
        const uint64_t start = r->startCluster;
        auto it = std::upper_bound(runs.begin(), runs.end(), start, [](uint64_t v, const Run& x) { return v < x.first; });
        // The runs that can hold the start begin at or before it; once none
        // before reaches it, none holds it. A start that is the other file's
        // own start is not its inside.
        while (it != runs.begin() && reach[size_t(it - runs.begin()) - 1] >= start) {
            --it;
            if (it->last < start) continue;
            const DelFileInfo* other = session.gcDelFileList.Get(size_t(it->index));
            if (it->index != index && other && other->startCluster != start) {
                r->state = StateOverwritten;
                TraceLine("%s: overwritten (cluster %llu lies inside %s)", r->name.value_or(std::string()).c_str(),
                          (unsigned long long)start, other->name.value_or(std::string()).c_str());
                break;
            }
        }
    }
    session.gcDelFileList.Unlock();
}

}  // namespace veld

