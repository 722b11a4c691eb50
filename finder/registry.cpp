// Registration of found files: every deleted entry, carved JPEG and carved
// MP4/MOV passes through RegisterFoundFile, which judges its state, claims its
// assumed clusters in the cluster map, reads the EXIF data of JPEG starts,
// makes the first thumbnails, drops duplicates and lists the rest.
#include "finder/registry.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <functional>
#include <string>

#include "base/format_text.h"
#include "base/trace.h"
#include "finder/cluster_classifier.h"
#include "finder/content_fit.h"
#include "finder/deleted_files.h"
#include "finder/found_file_thumbnail.h"
#include "finder/jpeg_walk.h"
#include "finder/media_carving.h"
#include "finder/media_format.h"
#include "finder/thumbnail_pool.h"
#include "platform/window_message.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr size_t kMaxExtensionBytes = 31;
constexpr int32_t kThumbnailLimit = 500;

// The extension text stored in the record: after the last "." of the name,
// or the short extension; trimmed, upper-case ASCII, "   " when nothing is
// left.
std::string ExtensionOf(const DelFileInfo& r) {
    std::string ext;
    if (r.name) {
        if (auto dot = r.name->rfind('.'); dot != std::string::npos) ext = CutUtf8(r.name->substr(dot + 1), kMaxExtensionBytes);
    } else {
        ext = ShortExtensionOf(r);
    }
    TrimBlanks(ext);
    if (ext.empty()) return "   ";
    UpperAscii(ext);
    return ext;
}

// The state of a deleted file by how much of its assumed extent was free.
int32_t StateOfClaim(ContiguousClaim claim) {
    switch (claim) {
    case ClaimWhole: return StateComplete;
    case ClaimCutShort: return StateFragmented;
    case ClaimBlockedAtStart: return StateInUse;
    case ClaimInvalidStart: return StateInvalidStart;
    }
    return StateInvalidStart;
}

// Whether e is a record of the same find as r: the same entry (folder and
// name) with the same extent from the same first cluster. Entries of one
// name in two folders are two files, empty or not.
bool IsDuplicate(const DelFileInfo& r, const DelFileInfo& e) {
    if (r.name != e.name || r.folder != e.folder || r.clustersNeeded != e.clustersNeeded) return false;
    if (r.hasClusterList() && e.hasClusterList()) return r.clusterList[0] == e.clusterList[0];
    return !r.hasClusterList() && !e.hasClusterList();
}

// The key IsDuplicate's matches share (a record's index key in listedByKey).
uint64_t DuplicateKey(const DelFileInfo& r) {
    if (r.hasClusterList()) return r.clusterList[0];
    const std::string text = r.folder.value_or("") + '\0' + r.name.value_or("");
    return std::hash<std::string>{}(text) | (uint64_t(1) << 63);
}

// A FAT record shows its entry's first byte and 8.3 name; others their name.
void TraceRegistration(const DelFileInfo& r, ClusterUse startState) {
    std::string attributes = FatAttributeText(r.attributes);
    std::string written = FatDateTimeText(r.modified.date, r.modified.time);
    if (r.fatEntry) {
        const DirEntry& e = *r.fatEntry;
        std::string name = std::string(reinterpret_cast<const char*>(e.data()), 8);
        std::string ext = std::string(reinterpret_cast<const char*>(e.data() + 8), 3);
        TraceLine("(%02x)%-8.8s.%-3.3s %s %s %s c=%4llX (0x%X)size=%6d %s tempfn=%s", e[0], name.c_str(), ext.c_str(), "",
                  attributes.c_str(), written.c_str(), (unsigned long long)r.startCluster, 0, int(r.fileSize),
                  ClusterStateName(startState), "");
    } else {
        TraceLine("%s %s %s c=%4llX (0x%X)size=%6d %s tempfn=%s", r.name.value_or(std::string()).c_str(),
                  attributes.c_str(), written.c_str(), (unsigned long long)r.startCluster, 0, int(r.fileSize),
                  ClusterStateName(startState), "");
    }
}

// Whether a picture registered now may get a thumbnail: fewer than the limit
// were made before it. With workers, thumbnails still being made are not
// counted yet; whether one made for this picture is kept is decided when it
// is handed back, in registration order (PublishThumbnail), which gives the
// answer the exact count would.
bool ThumbnailRoom(SearchSession& session) { return session.ThumbnailCount.load() < kThumbnailLimit; }

void Tally(SearchSession& session, const std::string& extension) {
    std::string text = extension;
    TrimBlanks(text);
    if (text.empty()) text = "   ";
    bool counted = false;
    session.ExtensionTally.ForEach([&](ExtensionCount& item) {
        if (item.extension != text) return true;
        ++item.count;
        counted = true;
        return false;
    });
    if (!counted) session.ExtensionTally.Add(ExtensionCount{text, 1});
}

}  // namespace

namespace {

// A worker's thumbnail handed to its record, in registration order: kept
// (with the decoder's verdict) while fewer than the limit were made before
// it, else dropped as if it had never been tried.
void PublishThumbnail(SearchSession& session, ThumbnailJob& job) {
    const bool kept = !job.skipped && session.ThumbnailCount.load() < kThumbnailLimit;
    session.gcDelFileList.Lock();
    job.record->thumbnailPending = 0;
    if (kept) {
        job.record->thumbnail = job.thumbnail;
        if (job.corrupt) NoteCorruptPicture(*job.record);
    } else {
        job.record->thumbnailTried = 0;
        NoteUndecodedPicture(*job.record);
    }
    session.gcDelFileList.Unlock();
    if (kept && job.thumbnail) {
        ++session.ThumbnailCount;
        session.ThumbnailQueue.Add(job.index);
    }
}

}  // namespace

void StartThumbnailWorkers(SearchSession& session, unsigned threads) {
    if (threads == 0) return;
    ThumbnailPoolSetup setup;
    setup.threads = threads;
    setup.cancelled = [&session] { return session.Cancelled(); };
    setup.publish = [&session](ThumbnailJob& job) { PublishThumbnail(session, job); };
    setup.read = [&session](const ThumbnailJob& job) -> std::optional<FoundFileBytes> {
        if (!session.volume || !job.record) return std::nullopt;
        return ReadFoundFileBytes(*session.volume, *job.record, job.wholeFile);
    };
    setup.readBesideSearch = session.volume && session.volume->device && session.volume->device->PositionalReads();
    setup.limit = kThumbnailLimit;
    session.thumbnailPool = std::make_unique<ThumbnailPool>(std::move(setup));
}

void FinishThumbnails(SearchSession& session) {
    if (session.thumbnailPool) session.thumbnailPool->Finish();
}

void StopThumbnailWorkers(SearchSession& session) {
    FinishThumbnails(session);
    session.thumbnailPool.reset();
}

namespace {

// The claim of a record registered on its own: its assumed clusters from the
// start cluster (or the planned ones) as far as they are free. Sets state,
// cluster list and counts; answers false when the start is in use (nothing
// claimed, nothing to list).
bool ClaimOnRegistration(SearchSession& session, DelFileInfo& r, const std::vector<uint64_t>* plannedClusters,
                         ClusterUse startState) {
    DiskVolume* volume = session.volume.get();
    const uint64_t start = r.startCluster;
    // A deleted entry whose start cluster the card's FAT still calls
    // allocated points into a file written after the deletion: whichever of
    // the two entries the scanner met first, the deleted one is in use.
    // Carved files are exempt: their bytes may lie in allocated clusters that
    // no entry reaches any more (lost chains), and those are worth recovering.
    const bool fatClaimsStart = !r.carved && r.fileSize > 0 && start >= 2 && AllocatedOnCard(session.clusterMap, start);
    if (startState != ClusterUse::Empty && startState != ClusterUse::DeletedFile) {
        r.state = StateInUse;
        return false;
    }
    if (fatClaimsStart) {
        r.state = StateInUse;
        TraceRegistration(r, startState);
        return false;
    }
    static const DiskVolume kNoVolume;
    uint64_t collected = 0;
    uint64_t needed = 0;
    if (plannedClusters && !plannedClusters->empty()) {
        std::vector<uint64_t> list;
        uint64_t taken = 0;
        ContiguousClaim claim = ClaimClusterList(session.clusterMap, *plannedClusters, ClusterUse::DeletedFile, &list, &taken);
        // Fewer planned clusters than the size needs (a damaged size, a
        // chain cut short): the file is never whole.
        needed = std::max<uint64_t>(plannedClusters->size(),
                                    ClustersForBytes(r.fileSize, volume ? volume->clusterSize : 0));
        if (claim == ClaimWhole && plannedClusters->size() < needed) claim = ClaimCutShort;
        r.state = StateOfClaim(claim);
        r.clusterList.assign(list.begin(), list.end());
        collected = taken;
    } else {
        r.state = StateOfClaim(MarkContiguous(session.clusterMap, volume ? *volume : kNoVolume, start, ClusterUse::DeletedFile,
                                              r.fileSize, &r.clusterList, &collected, !r.carved, &needed));
    }
    r.clustersNeeded = int32_t(std::min<uint64_t>(needed, INT32_MAX));
    r.clustersCollected = int32_t(std::min<uint64_t>(collected, INT32_MAX));
    // A run blocked at its first cluster gathered nothing: no list.
    if (collected == 0) {
        r.clusterList.clear();
        r.clusterList.shrink_to_fit();
    }
    return true;
}

// A named record whose bytes its content confirmed: good and checked.
bool NamedAndConfirmed(const DelFileInfo& r) {
    return !r.carved && r.state == StateComplete && Confirms(ContentFit(r.contentFit));
}

// Whether a named and a carved record hold the same picture: the same start
// cluster and length, or the same start where the named one's content
// confirmed it (the carved one is then a worse reading of it, cut short or
// run on by its walk).
bool SameFile(const DelFileInfo& named, const DelFileInfo& carved) {
    return named.startCluster == carved.startCluster &&
           (named.fileSize == carved.fileSize || NamedAndConfirmed(named));
}

// Whether a listed record holds the same file as r, found the other way
// (through an entry, by its signature).
bool SameFileOtherWay(SearchSession& session, const DelFileInfo& r) {
    if (r.fileSize == 0) return false;
    auto& index = r.carved ? session.namedByStart : session.carvedByStart;
    auto [from, to] = index.equal_range(r.startCluster);
    for (auto it = from; it != to; ++it) {
        const DelFileInfo* e = session.gcDelFileList.Get(size_t(it->second));
        if (e && e->listed && e->fileSize != 0 && (r.carved ? SameFile(*e, r) : SameFile(r, *e))) return true;
    }
    return false;
}

void Untally(SearchSession& session, const std::string& extension) {
    std::string text = extension;
    TrimBlanks(text);
    if (text.empty()) text = "   ";
    size_t at = 0, found = SIZE_MAX;
    session.ExtensionTally.ForEach([&](ExtensionCount& item) {
        if (item.extension == text) {
            if (--item.count <= 0) found = at;
            return false;
        }
        ++at;
        return true;
    });
    if (found != SIZE_MAX) session.ExtensionTally.RemoveAt(found);
}

// A file found through its entry after the signature search had listed the
// same picture under a generated name (SameFile): the generated one goes (the named one
// has the name, folder and date).
void WithdrawCarvedCopies(SearchSession& session, const DelFileInfo& named) {
    if (named.fileSize == 0) return;
    auto [from, to] = session.carvedByStart.equal_range(named.startCluster);
    for (auto it = from; it != to; ++it) {
        session.gcDelFileList.Lock();
        DelFileInfo* e = session.gcDelFileList.Get(size_t(it->second));
        const bool same = e && e->listed && SameFile(named, *e);
        if (same) e->listed = 0;
        const std::string extension = same ? e->extension : std::string();
        session.gcDelFileList.Unlock();
        if (!same) continue;
        --session.FoundCount;
        Untally(session, extension);
        TraceLine("%s: the same file as #%d, listed once", extension.c_str(), int(it->second));
    }
}

// What every record goes through once its clusters are known: the first
// cluster's class and metadata, the thumbnail, the trace line, the name, the
// filters, duplicates, listing and notification. claimed is false for a
// record whose start was in use (nothing read, nothing listed).
void ListFoundFile(SearchSession& session, DelFileInfo r, bool claimed, ClusterUse startState, ContentClass startClass,
                   std::vector<uint8_t> checkedBytes) {
    DiskVolume* volume = session.volume.get();
    bool listable = false;
    std::unique_ptr<ThumbnailJob> thumbnailJob;
    if (claimed) {
        if (r.hasClusterList()) {
            const uint64_t first = r.clusterList[0];
            ContentClass firstClass = first == r.startCluster ? startClass : (volume ? ReadAndClassifyCluster(*volume, first) : ContentClass::None);
            r.firstClass = firstClass;
            if (firstClass == ContentClass::JpegStart) {
                if (r.jpeg.found == 0 && volume) {
                    JpegInfo info{};
                    try {
                        WalkJpeg(session, first, &info, JpegWalkExifOnly);
                    } catch (...) {
                        // The file is still registered, without what the walk had not filled.
                        TraceLine("ERROR registry: EXIF walk from cluster %llu failed: %s", (unsigned long long)first,
                                  CaughtExceptionText().c_str());
                    }
                    r.jpeg = info;
                }
            } else if (firstClass != ContentClass::JpegData) {
                if (ShortExtensionOf(r) == "JPG" && (r.state == StateComplete || r.state == StateFragmented))
                    r.state = StateBroken;
                // A HEIF, RAW or clip found through its entry: its metadata
                // from the walk a carved one gets.
                if (r.media.format == 0 && volume && IsMediaStartClass(firstClass))
                    ReadMediaOfRecord(session, r, first, firstClass);
            }
        }

        bool thumbnailStep = false;
        if (r.hasClusterList()) {
            thumbnailStep = r.state == StateComplete || r.state == StateFragmented;
            listable = thumbnailStep || r.state == StateBroken || r.state == StateOverwritten ||
                       r.state == StateMismatch;
        } else {
            listable = r.fileSize == 0;
        }
        if (listable) r.listed = 1;

        if (thumbnailStep && !ThumbnailRoom(session) && r.firstClass == ContentClass::JpegStart)
            NoteUndecodedPicture(r);
        if (thumbnailStep && ThumbnailRoom(session)) {
            const std::string& ext = r.extension;
            if (r.isImage && (r.firstClass == ContentClass::JpegStart || ext == "GIF" || ext == "BMP" ||
                              HasMediaThumbnail(r))) {
                const bool checked = !checkedBytes.empty() && r.media.format == FormatNone;
                if (session.thumbnailPool) {
                    // The workers decode; the bytes the content check read go
                    // with the job, others are read by a worker (or here, for
                    // a picture the read marks as starting a JPEG).
                    thumbnailJob = std::make_unique<ThumbnailJob>();
                    if (checked) {
                        MarkThumbnailRead(r);
                        thumbnailJob->bytes = FoundJpegBytes(r, std::move(checkedBytes));
                        thumbnailJob->wholeFile = true;
                    } else if (volume && r.media.format == FormatNone && r.firstClass != ContentClass::JpegStart) {
                        if (std::optional<FoundFileBytes> bytes = ReadFoundFileForThumbnail(*volume, r))
                            thumbnailJob->bytes = std::move(*bytes);
                        else
                            thumbnailJob.reset();
                    } else if (!volume) {
                        thumbnailJob.reset();
                    }
                } else if (checked) {
                    // The bytes the content check read: no second read.
                    r.thumbnail = MakeFoundFileThumbnailFrom(r, std::move(checkedBytes));
                } else if (volume) {
                    r.thumbnail = MakeFoundFileThumbnail(*volume, r);
                }
                r.thumbnailTried = 1;
            }
        }
        TraceRegistration(r, startState);
    }

    if (!r.name) r.name = r.fatEntry ? PaddedShortName(*r.fatEntry) : std::string();
    if ((session.options.flags & SearchImagesOnly) && !r.isImage) listable = false;

    const uint64_t key = DuplicateKey(r);
    if (listable) {
        auto [from, to] = session.listedByKey.equal_range(key);
        for (auto it = from; it != to && listable; ++it)
            if (const DelFileInfo* e = session.gcDelFileList.Get(size_t(it->second)); e && IsDuplicate(r, *e))
                listable = false;
    }
    // One file found both through its entry and by its signature is listed
    // once, under its entry's name.
    if (listable && r.carved && SameFileOtherWay(session, r)) listable = false;
    session.lastRegistrationState = r.state;

    if (!listable) {
        if (r.hasClusterList()) {
            char text[96];
            std::snprintf(text, sizeof text, "見つかったファイル %d(既に登録済み #%llu)", int(session.FoundCount.load()),
                          (unsigned long long)r.clusterList[0]);
            session.progress.Report(PhaseFoundFile, -1, text);
        }
        FreeDelFileInfo(&r);
        return;
    }
    if (!r.carved) WithdrawCarvedCopies(session, r);

    int found = ++session.FoundCount;
    const int32_t index = int32_t(session.gcDelFileList.Count());
    if (r.thumbnail) {
        ++session.ThumbnailCount;
        session.ThumbnailQueue.Add(index);
    }
    r.index = index;
    if (thumbnailJob) r.thumbnailPending = 1;
    std::string extension = r.extension;
    (r.carved ? session.carvedByStart : session.namedByStart).emplace(r.startCluster, index);
    session.listedByKey.emplace(key, index);
    DelFileInfo* stored = session.gcDelFileList.Add(std::move(r));
    if (thumbnailJob) {
        thumbnailJob->record = stored;
        thumbnailJob->index = index;
        session.thumbnailPool->Add(std::move(thumbnailJob));
    }
    char text[64];
    std::snprintf(text, sizeof text, "見つかったファイル %d", found);
    session.progress.Report(PhaseFoundFile, -1, text);

    Tally(session, extension);

    if (session.startWindow)
        session.startWindow->PostMessage(MsgFoundFile, reinterpret_cast<intptr_t>(stored), 0);
}

void PrepareRecord(DelFileInfo& r) {
    r.extension = ExtensionOf(r);
    // HEIF and RAW pictures are pictures even where the desktop's type
    // database has no entry for their extension.
    r.isImage = ExtensionIsPicture(r.extension) || MediaFormatIsPicture(MediaFormat(r.media.format)) ? 1 : 0;
}

}  // namespace

void RegisterFoundFile(SearchSession& session, DelFileInfo r, const std::vector<uint64_t>* plannedClusters) {
    PrepareRecord(r);
    const ClusterUse startState = ClusterState(session.clusterMap, r.startCluster);
    if (!ClaimOnRegistration(session, r, plannedClusters, startState)) {
        ListFoundFile(session, std::move(r), false, startState, ContentClass::None, {});
        return;
    }
    const ContentClass startClass = session.volume ? ReadAndClassifyCluster(*session.volume, r.startCluster) : ContentClass::None;
    ListFoundFile(session, std::move(r), true, startState, startClass, {});
}

void RegisterDecidedFile(SearchSession& session, DelFileInfo r, ContentClass startClass, std::vector<uint8_t> checkedBytes) {
    PrepareRecord(r);
    const ClusterUse startState = ClusterState(session.clusterMap, r.startCluster);
    if (r.state == StateInUse || r.state == StateInvalidStart) {
        if (r.state == StateInUse && r.fileSize > 0 && startState == ClusterUse::DeletedFile) TraceRegistration(r, startState);
        ListFoundFile(session, std::move(r), false, startState, ContentClass::None, {});
        return;
    }
    for (uint64_t c : r.clusterList)
        if (c >= 2) SetClusterState(session.clusterMap, c, ClusterUse::DeletedFile);
    ListFoundFile(session, std::move(r), true, startState, startClass, std::move(checkedBytes));
}

void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path) {
    PendingFile file;
    file.record = RecordOfFatEntry(entry);
    if (!longName.empty()) file.record.name = longName;
    file.record.folder = path;
    HoldOrRegister(session, std::move(file));
}

void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path) {
    DelFileInfo r = RecordOfFatEntry(entry);
    r.name = longName;
    r.folder = path;
    session.DelFolderList.Add(std::move(r));
}

}  // namespace veld
