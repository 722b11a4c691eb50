// Registration of found files: every deleted entry, carved JPEG and carved
// MP4/MOV passes through RegisterFoundFile, which judges its state, claims its
// assumed clusters in the cluster map, reads the EXIF data of JPEG starts,
// makes the first thumbnails, drops duplicates and lists the rest.
#include "finder/registry.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "base/format_text.h"
#include "base/trace.h"
#include "finder/cluster_classifier.h"
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

bool IsDuplicate(const DelFileInfo& r, const DelFileInfo& e) {
    if (r.hasClusterList() && e.hasClusterList())
        return r.clusterList[0] == e.clusterList[0] && r.name == e.name && r.clustersNeeded == e.clustersNeeded;
    if (!r.hasClusterList() && !e.hasClusterList())
        return r.name == e.name && r.clustersNeeded == e.clustersNeeded;
    return false;
}

// A FAT record shows its entry's first byte and 8.3 name; others their name.
void TraceRegistration(const DelFileInfo& r, int startState) {
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

// Whether a picture registered now gets a thumbnail: fewer than the limit
// were made before it. With workers, thumbnails still being made count as
// made while that keeps below the limit; at the limit the workers are waited
// for, so the answer is the one the exact count gives.
bool ThumbnailRoom(SearchSession& session) {
    if (session.thumbnailPool) {
        const size_t unpublished = session.thumbnailPool->Unpublished();
        if (session.ThumbnailCount.load() + int64_t(unpublished) < kThumbnailLimit) return true;
        if (unpublished > 0) PublishThumbnails(session, true);
    }
    return session.ThumbnailCount.load() < kThumbnailLimit;
}

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

void PublishThumbnails(SearchSession& session, bool wait) {
    if (!session.thumbnailPool) return;
    session.thumbnailPool->Publish(wait, [&session](ThumbnailJob& job) {
        session.gcDelFileList.Lock();
        job.record->thumbnail = job.thumbnail;
        job.record->thumbnailPending = 0;
        session.gcDelFileList.Unlock();
        if (job.thumbnail) {
            ++session.ThumbnailCount;
            session.ThumbnailQueue.Add(job.index);
        }
    });
}

void RegisterFoundFile(SearchSession& session, DelFileInfo r, const std::vector<uint64_t>* plannedClusters) {
    DiskVolume* volume = session.volume.get();
    bool listable = false;
    std::optional<FoundFileBytes> thumbnailBytes;
    if (session.thumbnailPool) PublishThumbnails(session, false);

    r.extension = ExtensionOf(r);
    // HEIF and RAW pictures are pictures even where the desktop's type
    // database has no entry for their extension.
    r.isImage = ExtensionIsPicture(r.extension) || MediaFormatIsPicture(MediaFormat(r.media.format)) ? 1 : 0;

    const uint64_t start = r.startCluster;
    const int startState = ClusterState(session.clusterMap, start);
    // A deleted entry whose start cluster the card's FAT still calls
    // allocated points into a file written after the deletion: whichever of
    // the two entries the scanner met first, the deleted one is in use.
    // Carved files are exempt: their bytes may lie in allocated clusters that
    // no entry reaches any more (lost chains), and those are worth recovering.
    const bool fatClaimsStart = !r.carved && r.fileSize > 0 && start >= 2 && AllocatedOnCard(session.clusterMap, start);
    if (startState != FA_EMPTY && startState != FA_DEL_FILE) {
        r.state = StateInUse;
    } else if (fatClaimsStart) {
        r.state = StateInUse;
        TraceRegistration(r, startState);
    } else {
        int startClass = volume ? ReadAndClassifyCluster(*volume, start) : 0;
        static const DiskVolume kNoVolume;
        uint64_t collected = 0;
        uint64_t needed = 0;
        if (plannedClusters && !plannedClusters->empty()) {
            std::vector<uint64_t> list;
            uint64_t taken = 0;
            ContiguousClaim claim = ClaimClusterList(session.clusterMap, *plannedClusters, FA_DEL_FILE, &list, &taken);
            // Fewer planned clusters than the size needs (a damaged size, a
            // chain cut short): the file is never whole.
            needed = std::max<uint64_t>(plannedClusters->size(),
                                        ClustersForBytes(r.fileSize, volume ? volume->clusterSize : 0));
            if (claim == ClaimWhole && plannedClusters->size() < needed) claim = ClaimCutShort;
            r.state = StateOfClaim(claim);
            r.clusterList.assign(list.begin(), list.end());
            collected = decltype(collected)(taken);
        } else {
            r.state = StateOfClaim(MarkContiguous(session.clusterMap, volume ? *volume : kNoVolume, start, FA_DEL_FILE,
                                                  r.fileSize, &r.clusterList, &collected, !r.carved, &needed));
        }
        r.clustersNeeded = int32_t(std::min<uint64_t>(needed, INT32_MAX));
        r.clustersCollected = int32_t(std::min<uint64_t>(collected, INT32_MAX));
        // A run blocked at its first cluster gathered nothing: no list.
        if (collected == 0) {
            r.clusterList.clear();
            r.clusterList.shrink_to_fit();
        }

        if (r.hasClusterList()) {
            const uint64_t first = r.clusterList[0];
            int firstClass = first == start ? startClass : (volume ? ReadAndClassifyCluster(*volume, first) : 0);
            r.firstClass = firstClass;
            if (firstClass == CC_JPEG_START) {
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
            } else if (firstClass != CC_JPEG_DATA) {
                if (ShortExtensionOf(r) == "JPG") r.state = StateBroken;
                // A HEIF, RAW or clip found through its entry: its metadata
                // from the walk a carved one gets.
                if (r.media.format == 0 && volume && IsMediaStartClass(firstClass))
                    ReadMediaOfRecord(session, r, first, firstClass);
            }
        }

        bool thumbnailStep = false;
        if (r.hasClusterList()) {
            thumbnailStep = r.state == StateComplete || r.state == StateFragmented;
            listable = thumbnailStep || r.state == StateBroken;
        } else {
            listable = r.fileSize == 0;
        }
        if (listable) r.listed = 1;

        if (thumbnailStep && ThumbnailRoom(session)) {
            const std::string& ext = r.extension;
            if (r.isImage && (r.firstClass == CC_JPEG_START || ext == "GIF" || ext == "BMP" ||
                              HasMediaThumbnail(r))) {
                if (volume) {
                    // With workers the bytes are read here and decoded there.
                    if (session.thumbnailPool)
                        thumbnailBytes = ReadFoundFileForThumbnail(*volume, r);
                    else
                        r.thumbnail = MakeFoundFileThumbnail(*volume, r);
                }
                r.thumbnailTried = 1;
            }
        }
        TraceRegistration(r, startState);
    }

    if (!r.name) r.name = r.fatEntry ? PaddedShortName(*r.fatEntry) : std::string();
    if ((session.options.flags & SearchImagesOnly) && !r.isImage) listable = false;

    if (listable) {
        session.gcDelFileList.ForEach([&](DelFileInfo& e) {
            if (!IsDuplicate(r, e)) return true;
            listable = false;
            return false;
        });
    }
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

    int found = ++session.FoundCount;
    const int32_t index = int32_t(session.gcDelFileList.Count());
    if (r.thumbnail) {
        ++session.ThumbnailCount;
        session.ThumbnailQueue.Add(index);
    }
    r.index = index;
    if (thumbnailBytes) r.thumbnailPending = 1;
    std::string extension = r.extension;
    DelFileInfo* stored = session.gcDelFileList.Add(std::move(r));
    if (thumbnailBytes) {
        auto job = std::make_unique<ThumbnailJob>();
        job->bytes = std::move(*thumbnailBytes);
        job->record = stored;
        job->index = index;
        session.thumbnailPool->Add(std::move(job));
    }
    char text[64];
    std::snprintf(text, sizeof text, "見つかったファイル %d", found);
    session.progress.Report(PhaseFoundFile, -1, text);

    Tally(session, extension);

    if (session.startWindow)
        session.startWindow->PostMessage(MsgFoundFile, reinterpret_cast<intptr_t>(stored), 0);
}

void RegisterDeletedEntry(SearchSession& session, const DirEntry& entry, const std::string& longName,
                          const std::string& path) {
    DelFileInfo r = RecordOfFatEntry(entry);
    if (!longName.empty()) r.name = longName;
    r.folder = path;
    RegisterFoundFile(session, std::move(r));
}

void RegisterDeletedFolder(SearchSession& session, const DirEntry& entry, const std::string& longName,
                           const std::string& path) {
    DelFileInfo r = RecordOfFatEntry(entry);
    r.name = longName;
    r.folder = path;
    session.DelFolderList.Add(std::move(r));
}

}  // namespace veld
