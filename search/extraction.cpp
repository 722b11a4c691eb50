// Extraction of a found file: the clusters its record lists are read from the
// source and written, in order, to a file or into one memory block.
#include "search/extraction.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "search/found_file_columns.h"
#include "search/save_target.h"
#include "search/saved_file_names.h"
#include "search/work_folders.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

// Below this size a file is extracted without a progress display.
constexpr uint64_t kProgressThreshold = 1024000;

// The record's folder text ("DCIM\100CANON") as folder names; components that
// would leave the target ("", ".", "..") are dropped.
std::vector<std::string> FolderNames(const DelFileInfo& record) {
    std::vector<std::string> names;
    if (!record.folder) return names;
    const std::string& path = *record.folder;
    size_t at = 0;
    while (at <= path.size()) {
        size_t sep = path.find('\\', at);
        if (sep == std::string::npos) sep = path.size();
        std::string part = SafeFolderName(path.substr(at, sep - at));
        if (!part.empty()) names.push_back(std::move(part));
        at = sep + 1;
    }
    return names;
}

std::string OutputFolder(const DelFileInfo& record, const ExtractRequest& request) {
    if (request.targetFolder.empty()) return WorkFolderPath();
    std::string folder = request.targetFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (request.keepFolders)
        for (const std::string& part : FolderNames(record)) folder += (folder.back() == '/' ? "" : "/") + part;
    return folder;
}

std::string OutputName(const DelFileInfo& record, const ExtractRequest& request) {
    if (!request.fileName.empty()) return SafeFileName(request.fileName);
    bool useName = record.name && !record.name->empty();
    // In the work folder a record without clusters is named after its entry.
    if (request.targetFolder.empty()) useName = useName && record.hasClusterList();
    return SafeFileName(useName ? *record.name : ShortNameOf(record));
}

// The list entries worth visiting: up to the last one that names a cluster,
// and no more than the size needs. Past it nothing would be written.
size_t UsefulEntries(const DelFileInfo& record, uint64_t size, uint32_t clusterSize) {
    size_t needed = size_t(std::min<uint64_t>(record.clusterList.size(), ClustersForBytes(size, clusterSize)));
    while (needed > 0 && record.clusterList[needed - 1] < 2) --needed;
    return needed;
}

// What memory mode can fill at most: the size, bounded by the clusters the
// list names inside the volume and by the volume itself. A damaged size
// (0xFFFFFFFF) must not make us reserve gigabytes.
uint64_t DeliverableBytes(const DiskVolume& volume, const DelFileInfo& record, uint64_t size, size_t entries) {
    const uint64_t clusterEnd = uint64_t(std::max<int64_t>(volume.clusterCount, 0)) + 2;
    uint64_t clusters = 0;
    for (size_t i = 0; i < entries; ++i)
        if (record.clusterList[i] >= 2 && record.clusterList[i] < clusterEnd) ++clusters;
    clusters = std::min(clusters, clusterEnd - 2);
    return std::min(size, clusters * volume.clusterSize);
}

// Seconds since 1970 of a local "yyyy/mm/dd hh:mm:ss", or of a FAT date and
// time; 0 when there is none.
int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&t);
    return seconds == std::time_t(-1) ? 0 : int64_t(seconds);
}

}  // namespace

int64_t SavedFileTime(const DelFileInfo& record) {
    const FatTime& m = record.modified;
    if (m.date != 0) {
        const int64_t written = LocalSeconds(1980 + (m.date >> 9), (m.date >> 5) & 15, m.date & 31, m.time >> 11,
                                             (m.time >> 5) & 63, (m.time & 31) * 2);
        if (written > 0) return written;
    }
    int year, month, day, hour, minute, second;
    const std::string shot =
        record.jpeg.dateTimeOriginal.empty() ? FoundFileShootingDate(record) : record.jpeg.dateTimeOriginal;
    if (std::sscanf(shot.c_str(), "%d/%d/%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) == 6 &&
        year >= 1980 && month >= 1 && month <= 12 && day >= 1 && day <= 31)
        return LocalSeconds(year, month, day, hour, minute, second);
    return 0;
}

std::string ExtractResultText(int result) {
    switch (result) {
    case ExtractOk: return {};
    case ExtractCancelled: return "キャンセル";
    case ExtractReadFailed: return "読み込みエラー";
    case ExtractCreateFailed: return "作成エラー";
    case ExtractWriteFailed: return "書き込みエラー";
    default: return "エラー " + std::to_string(result);
    }
}

std::string ExtractTargetPath(const DelFileInfo& record, const ExtractRequest& request) {
    std::string folder = OutputFolder(record, request);
    return folder + (folder.back() == '/' ? "" : "/") + OutputName(record, request);
}

uint64_t SaveByteCount(const DiskVolume& volume, const DelFileInfo& record) {
    if (volume.clusterSize == 0) return 0;
    return DeliverableBytes(volume, record, record.fileSize, UsefulEntries(record, record.fileSize, volume.clusterSize));
}

uint64_t CardByteCount(const DiskVolume& volume) {
    return uint64_t(std::max<int64_t>(volume.clusterCount, 0)) * volume.clusterSize;
}

ExtractOutcome ExtractFoundFile(DiskVolume& volume, const DelFileInfo& record, const ExtractRequest& request) {
    ExtractOutcome out;
    const uint64_t size = record.fileSize;
    const uint32_t clusterSize = volume.clusterSize;
    const size_t entries = clusterSize > 0 ? UsefulEntries(record, size, clusterSize) : 0;

    std::optional<SaveTarget> file;
    if (request.toMemory) {
        out.memory.reserve(size_t(DeliverableBytes(volume, record, size, entries)));
    } else {
        const bool work = request.targetFolder.empty();
        std::vector<std::string> folders;
        if (!work && request.keepFolders) folders = FolderNames(record);
        file.emplace(SaveTarget::Create(work ? WorkFolderPath() : request.targetFolder, folders,
                                        OutputName(record, request), work ? TakenName::Replace : TakenName::Number));
        if (!file->ok()) {
            out.result = ExtractCreateFailed;
            out.reason = file->failure();
            return out;
        }
    }

    const bool showProgress = request.progress && size >= kProgressThreshold;
    std::vector<uint8_t> buffer(clusterSize);
    bool cancelled = false;
    bool writeFailed = false;
    uint64_t unreadCluster = 0;  // the cluster whose read failed or came short
    int lastPercent = -1;
    uint64_t position = 0;
    // Entries past the end of the list count as 0: nothing more is written.
    for (size_t i = 0; position < size && i < entries; ++i, position += clusterSize) {
        // Entries the claim never filled (0) write nothing: the output is
        // then shorter than the size, as the record's state says.
        const uint64_t c = record.clusterList[i];
        uint32_t want = uint32_t(std::min<uint64_t>(clusterSize, size - position));
        if (c >= 2) {
            uint32_t done = 0;
            bool ok = DiskIO_ReadAt(&volume, uint64_t(ClusterOffset(volume, c)), buffer.data(), clusterSize, &done);
            uint32_t take = ok ? std::min(done, want) : 0;
            if (take > 0) {
                if (file)
                    writeFailed = !file->Write(buffer.data(), take);
                else
                    out.memory.insert(out.memory.end(), buffer.begin(), buffer.begin() + take);
                if (!writeFailed) out.byteCount += take;
            }
            if (writeFailed) break;
            if (take < want) {
                unreadCluster = c;
                break;
            }
        }
        if (showProgress) {
            int percent = int(double(position) / double(size) * 100.0);
            if (percent != lastPercent && percent % 5 == 0 && !request.progress(percent)) {
                cancelled = true;
                break;
            }
            lastPercent = percent;
        }
    }

    if (cancelled) {
        out.result = ExtractCancelled;
        out.reason = "キャンセルされました";
    } else if (writeFailed) {
        out.result = ExtractWriteFailed;
        out.reason = file->failure();
    } else if (unreadCluster != 0) {
        out.result = ExtractReadFailed;
        out.reason = "読み込みエラー (クラスタ " + std::to_string(unreadCluster) + " を読めません)";
    }
    if (request.toMemory) return out;
    if (out.result != ExtractOk) {
        file->Discard();  // a partial file never stays under the name
        return out;
    }
    const std::string path = file->path();
    out.note = file->note();
    // The file carries the time its picture was taken (else its entry's
    // write time), as the camera left it on the card.
    if (const int64_t taken = SavedFileTime(record); taken > 0) file->SetModifiedTime(taken);
    if (!file->Finish()) {
        out.result = ExtractWriteFailed;
        out.reason = file->failure();
        return out;
    }
    out.path = path;
    return out;
}

}  // namespace veld
