// Extraction of a found file: the clusters its record lists are read from the
// source and written, in order, to a file or into one memory block.
#include "volume/extraction.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "finder/work_folders.h"
#include "volume/boot_sector.h"

namespace veld {
namespace {

// Below this size a file is extracted without a progress display.
constexpr uint64_t kProgressThreshold = 1024000;

std::string gLastExtractedPath;

// A name usable as one Linux file name: no "/" or zero bytes, not "." or "..".
std::string SafeFileName(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\0') c = '_';
    if (name.empty() || name == "." || name == "..") name = "_" + name;
    return name;
}

// One component of a card's folder path as a folder name: trailing dots and
// spaces are dropped as Windows drops them ("DCIM." becomes "DCIM"); empty,
// "." and ".." components give nothing, so no path leaves the target.
std::string FolderComponent(std::string part) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    if (part.empty()) return {};
    for (char& c : part)
        if (c == '/' || c == '\0') c = '_';
    return part;
}

std::string OutputFolder(const DelFileInfo& record, const ExtractRequest& request) {
    if (request.targetFolder.empty()) return WorkFolderPath();
    std::string folder = request.targetFolder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (request.keepFolders && record.folder && !record.folder->empty()) {
        const std::string& path = *record.folder;
        size_t at = 0;
        while (at <= path.size()) {
            size_t sep = path.find('\\', at);
            if (sep == std::string::npos) sep = path.size();
            std::string part = FolderComponent(path.substr(at, sep - at));
            if (!part.empty()) folder += (folder.back() == '/' ? "" : "/") + part;
            at = sep + 1;
        }
    }
    return folder;
}

std::string OutputName(const DelFileInfo& record, const ExtractRequest& request) {
    if (!request.fileName.empty()) return SafeFileName(request.fileName);
    bool useName = record.name && !record.name->empty();
    // In the work folder a record without clusters is named after its entry.
    if (request.targetFolder.empty()) useName = useName && record.hasClusterList();
    return SafeFileName(useName ? *record.name : TrimmedShortName(record.entry));
}

}  // namespace

const std::string& LastExtractedPath() { return gLastExtractedPath; }

std::string ExtractTargetPath(const DelFileInfo& record, const ExtractRequest& request) {
    std::string folder = OutputFolder(record, request);
    return folder + (folder.back() == '/' ? "" : "/") + OutputName(record, request);
}

ExtractOutcome ExtractFoundFile(DiskVolume& volume, const DelFileInfo& record, const ExtractRequest& request) {
    ExtractOutcome out;
    gLastExtractedPath.clear();
    const uint64_t size = record.size();
    const std::string target = ExtractTargetPath(record, request);

    std::FILE* file = nullptr;
    if (request.toMemory) {
        // A damaged size must not make us allocate more than the list can fill.
        uint64_t listBytes = uint64_t(record.clusterList.size()) * volume.clusterSize;
        out.memory.reserve(size_t(std::min(size, listBytes)));
    } else {
        MakeFolderPath(OutputFolder(record, request));
        file = std::fopen(target.c_str(), "wb");
        if (!file) {
            out.result = ExtractCreateFailed;
            return out;
        }
    }

    const bool showProgress = request.progress && size >= kProgressThreshold;
    const uint32_t clusterSize = volume.clusterSize;
    std::vector<uint8_t> buffer(clusterSize);
    bool cancelled = false;
    bool writeFailed = false;
    int lastPercent = -1;
    uint64_t position = 0;
    size_t i = 0;
    // Entries past the end of the list count as 0: nothing more is written.
    while (position < size && clusterSize > 0 && i < record.clusterList.size()) {
        // Entries the claim never filled (0) write nothing: the output is
        // then shorter than the size.
        uint32_t c = record.clusterList[i];
        uint32_t want = uint32_t(std::min<uint64_t>(clusterSize, size - position));
        if (c >= 2) {
            uint32_t done = 0;
            bool ok = DiskIO_Seek(&volume, ClusterOffset(volume, c)) != -1 &&
                      DiskIO_Read(&volume, buffer.data(), clusterSize, &done);
            uint32_t take = ok ? std::min(done, want) : 0;
            if (take > 0) {
                if (file) {
                    if (std::fwrite(buffer.data(), 1, take, file) != take) writeFailed = true;
                } else {
                    out.memory.insert(out.memory.end(), buffer.begin(), buffer.begin() + take);
                }
                out.byteCount += take;
            }
            if (writeFailed || !ok || take < want) break;  // a read error ends the copy; what was written stays
        }
        if (showProgress) {
            int percent = int(double(position) / double(size) * 100.0);
            if (percent != lastPercent && percent % 5 == 0 && !request.progress(percent)) {
                cancelled = true;
                break;
            }
            lastPercent = percent;
        }
        position += clusterSize;
        ++i;
    }

    if (request.toMemory) {
        out.result = cancelled ? ExtractCancelled : ExtractOk;
        return out;
    }
    if (std::fclose(file) != 0) writeFailed = true;
    if (cancelled || writeFailed) {
        // Only a partial file of our own goes; never anything else at that path.
        std::error_code ec;
        if (std::filesystem::is_regular_file(target, ec)) std::filesystem::remove(target, ec);
        out.result = cancelled ? ExtractCancelled : ExtractWriteFailed;
        return out;
    }
    gLastExtractedPath = target;
    out.path = target;
    out.result = ExtractOk;
    return out;
}

}  // namespace veld
