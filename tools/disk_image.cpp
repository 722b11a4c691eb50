#include "tools/disk_image.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "base/trace.h"
#include "base/format_text.h"
#include "volume/file_system.h"

namespace veld {

int64_t VolumeImageSize(const DiskVolume& volume) {
    const int64_t deviceBytes = volume.device ? volume.device->Size() : -1;
    // Sector 0 of a partitioned card is its table, not a boot sector: every
    // partition is kept.
    if (volume.partitionScheme != PartitionScheme::None && volume.partitionIndex == 0) return deviceBytes;
    // A FAT volume: every sector its boot sector counts. A boot sector without
    // a total is damaged: then keep the whole device.
    const int64_t bytes = volume.fileSystem ? int64_t(volume.fileSystem->DeclaredBytes(volume)) : 0;
    if (bytes > 0) return deviceBytes >= 0 ? std::min(bytes, deviceBytes) : bytes;
    return deviceBytes;
}

std::string ImageFilePath(const std::string& path) {
    if (path.size() <= 3) return {};
    std::string tail = path.substr(path.size() - 4);
    if (CompareNoCase(tail, ".img") == 0) return path;
    return path + ".img";
}

DiskImageJob::~DiskImageJob() { Finish(); }

int DiskImageJob::Open(char driveLetter, const std::string& sourcePath, const std::string& imagePath,
                       bool replaceExisting) {
    // A whole card is imaged whole, its partition table included.
    std::unique_ptr<DiskVolume> source = DiskIO_Open(sourcePath, driveLetter, kPartitionWhole);
    if (!source) {
        std::string what = sourcePath.empty() ? std::string(1, driveLetter) + ":" : sourcePath;
        std::string why = DiskIO_LastOpenError().empty() ? what : DiskIO_LastOpenError();
        return OpenFailed(DiskOpenSourceFailed, std::string(DiskToolOpenErrorText()) + "\n" + why);
    }
    return Open(std::move(source), imagePath, replaceExisting);
}

int DiskImageJob::Open(std::unique_ptr<DiskVolume> source, const std::string& imagePath, bool replaceExisting) {
    source_ = std::move(source);
    imagePath_ = imagePath;
    if (!source_->accessNote.empty()) TraceLine("%s", source_->accessNote.c_str());
    size_ = VolumeImageSize(*source_);
    if (size_ <= 0)
        return OpenFailed(DiskOpenSizeUnknown, source_->sourceName + " のサイズがわかりません (メディアが入っていますか)");
    std::error_code ec;
    if (!source_->devicePath.empty() && std::filesystem::equivalent(imagePath, source_->devicePath, ec) && !ec)
        return OpenFailed(DiskOpenSameFile, imagePath + " は読み取り元そのものです。別のファイル名を指定してください");
    sectorSize_ = source_->device ? source_->device->SectorSize() : 512;
    buffer_.assign(kDiskChunkBytes, 0);

    // Without blocking: a FIFO in the image file's place would wait for a
    // reader. Only a file (or a block device) takes an image.
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | (replaceExisting ? O_TRUNC : O_EXCL);
    struct stat st {};
    const bool other = ::stat(imagePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode);
    fd_ = other ? -1 : ::open(imagePath.c_str(), flags, 0666);
    if (fd_ < 0) {
        if (!other && errno == EEXIST)
            return OpenFailed(DiskOpenFileExists, imagePath + " はすでにあります。上書きしない限り作成できません");
        return OpenFailed(DiskOpenFileFailed, std::string(DiskToolOpenErrorText()) + "\n" + imagePath + ": " +
                                                  (other ? kNotFileOrDeviceText : std::strerror(errno)));
    }
    if (::fstat(fd_, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) ||
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd_);
        fd_ = -1;
        return OpenFailed(DiskOpenFileFailed,
                          std::string(DiskToolOpenErrorText()) + "\n" + imagePath + ": " + kNotFileOrDeviceText);
    }
    return DiskOpenOk;
}

int DiskImageJob::Work() {
    BeginPhase(DiskPhaseImaging, size_);
    for (int64_t offset = 0; offset < size_;) {
        if (CancelRequested()) return DiskToolCancelled;
        const uint32_t count = uint32_t(std::min<int64_t>(kDiskChunkBytes, size_ - offset));
        uint32_t done = 0;
        errno = 0;
        if (!DiskIO_ReadAt(source_.get(), uint64_t(offset), buffer_.data(), count, &done) || done < count) {
            // A short read before the end the volume promised is a failure too.
            NoteFailure(offset + done, errno);
            return DiskToolReadError;
        }
        for (uint32_t written = 0; written < count;) {
            ssize_t n = ::write(fd_, buffer_.data() + written, count - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                NoteFailure(offset + written, n < 0 ? errno : ENOSPC);
                return DiskToolWriteError;
            }
            written += uint32_t(n);
        }
        offset += count;
        ChunkDone(count);
    }
    // The copy of a failing card may be the only one left: make it durable.
    if (::fsync(fd_) != 0) {
        NoteFailure(size_, errno);
        return DiskToolWriteError;
    }
    return DiskToolOk;
}

void DiskImageJob::Release(int result) {
    DiskIO_Close(source_);
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        // A cancelled image, and one the disk could not take (full, or
        // failing), is incomplete and removed: it only takes space. One cut
        // short by the card's read error keeps what could be copied, which
        // may be all that is left of a failing card.
        if (result == DiskToolCancelled || result == DiskToolWriteError) removed_ = ::unlink(imagePath_.c_str()) == 0;
    }
}

std::string DiskImageJob::Describe(int result) const {
    std::string text = DiskJob::Describe(result);
    if (result == DiskToolWriteError)
        text += removed_ ? "\n作成途中のイメージファイル " + imagePath_ + " は削除しました"
                         : "\n作成途中のイメージファイル " + imagePath_ + " は不完全です";
    else if (result == DiskToolReadError)
        text += "\nイメージファイル " + imagePath_ + " には読み取れたところまでを残しました (不完全です)";
    return text;
}

std::string DiskImageJob::ResultText(int result) const {
    switch (result) {
        case DiskToolOk: return "保存が完了しました";
        case DiskToolCancelled: return DiskToolAbortedText();
        default: return "書き込み中にエラーが発生しました";
    }
}

}  // namespace veld
