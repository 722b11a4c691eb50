#include "tools/disk_restore.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/trace.h"
#include "tools/disk_image.h"

namespace veld {
namespace {

std::string OpenErrorWith(const std::string& why) { return std::string(DiskToolOpenErrorText()) + "\n" + why; }

}  // namespace

DiskRestoreJob::~DiskRestoreJob() { Finish(); }

int DiskRestoreJob::Open(const std::string& imagePath, char driveLetter, const std::string& targetPath,
                         const WriteTargetRules& rules) {
    std::string message;
    if (!LocateWriteTarget(driveLetter, targetPath, rules, &target_, &message))
        return OpenFailed(DiskOpenSourceFailed, OpenErrorWith(message));
    if (int code = CheckWriteTarget(target_, rules, &message)) return OpenFailed(code, message);
    std::error_code ec;
    if (std::filesystem::equivalent(imagePath, target_.path, ec) && !ec)
        return OpenFailed(DiskOpenSameFile, imagePath + " は書き込み先そのものです");
    auto volume = target_.isDevice ? DiskIO_OpenDevice(target_.path, true) : DiskIO_OpenImage(target_.path, true);
    if (!volume) return OpenFailed(DiskOpenSourceFailed, OpenErrorWith(DiskIO_LastOpenError()));
    return Open(imagePath, std::move(volume));
}

int DiskRestoreJob::Open(const std::string& imagePath, std::unique_ptr<DiskVolume> target) {
    volume_ = std::move(target);
    if (!volume_->accessNote.empty()) TraceLine("%s", volume_->accessNote.c_str());
    image_ = OpenRawPath(imagePath, false);
    if (!image_)
        return OpenFailed(DiskOpenFileFailed,
                          OpenErrorWith(imagePath + ": " + (errno == ENOTBLK ? kNotFileOrDeviceText : std::strerror(errno))));
    size_ = image_->Size();
    // The target's size is the size of an image of it (its FAT volume) or
    // its whole device; an image of either size fits exactly.
    const int64_t deviceSize = volume_->device ? volume_->device->Size() : -1;
    const int64_t volumeSize = VolumeImageSize(*volume_);
    if (deviceSize <= 0)
        return OpenFailed(DiskOpenSizeUnknown, volume_->sourceName + " のサイズがわかりません (メディアが入っていますか)");
    if (size_ != deviceSize && size_ != volumeSize) {
        std::string text = "イメージファイルのサイズ " + ByteCountText(size_) + " が書き込み先のサイズ " +
                           ByteCountText(deviceSize);
        if (volumeSize > 0 && volumeSize != deviceSize) text += " (ボリューム " + ByteCountText(volumeSize) + ")";
        return OpenFailed(DiskOpenSizeMismatch, text + " と一致しないため、書き込みません");
    }
    sectorSize_ = volume_->device->SectorSize();
    buffer_.assign(kDiskChunkBytes, 0);
    readBack_.assign(kDiskChunkBytes, 0);
    return DiskOpenOk;
}

int DiskRestoreJob::Work() {
    auto readImage = [&](int64_t offset, uint32_t count) {
        uint32_t done = 0;
        errno = 0;
        if (!image_->Seek(offset) || !image_->Read(buffer_.data(), count, &done) || done < count) {
            NoteFailure(offset + done, errno);
            return false;
        }
        return true;
    };

    BeginPhase(DiskPhaseWriting, size_);
    for (int64_t offset = 0; offset < size_;) {
        if (CancelRequested()) return DiskToolCancelled;
        const uint32_t count = uint32_t(std::min<int64_t>(kDiskChunkBytes, size_ - offset));
        // A chunk the image file cannot give is never made up from old bytes.
        if (!readImage(offset, count)) return DiskToolReadError;
        uint32_t done = 0;
        errno = 0;
        if (!DiskIO_WriteAt(volume_.get(), uint64_t(offset), buffer_.data(), count, &done) || done < count) {
            NoteFailure(offset + done, errno);
            return DiskToolWriteError;
        }
        offset += count;
        ChunkDone(count);
    }
    errno = 0;
    if (!volume_->device->Flush()) {
        NoteFailure(size_, errno);
        return DiskToolWriteError;
    }

    // Read the card back (not the system's cache of it) and compare.
    BeginPhase(DiskPhaseVerifying, size_);
    for (int64_t offset = 0; offset < size_;) {
        if (CancelRequested()) return DiskToolCancelled;
        const uint32_t count = uint32_t(std::min<int64_t>(kDiskChunkBytes, size_ - offset));
        if (!readImage(offset, count)) return DiskToolReadError;
        uint32_t done = 0;
        errno = 0;
        if (!DiskIO_ReadAt(volume_.get(), uint64_t(offset), readBack_.data(), count, &done) || done < count) {
            NoteFailure(offset + done, errno);
            return DiskToolVerifyReadError;
        }
        if (std::memcmp(buffer_.data(), readBack_.data(), count) != 0) {
            uint32_t at = 0;
            while (buffer_[at] == readBack_[at]) ++at;
            const int64_t differs = offset + at;
            NoteFailure(differs - differs % sectorSize_, 0);
            return DiskToolVerifyMismatch;
        }
        offset += count;
        ChunkDone(count);
    }
    return DiskToolOk;
}

void DiskRestoreJob::Release(int) {
    DiskIO_Close(volume_);
    image_.reset();  // the image file is never removed
}

std::string DiskRestoreJob::ResultText(int result) const {
    switch (result) {
        case DiskToolOk: return "保存が完了しました";
        case DiskToolCancelled: return DiskToolAbortedText();
        case DiskToolVerifyMismatch:
        case DiskToolVerifyReadError: return "書き込んだ内容の確認中にエラーが発生しました";
        default: return "書き込み中にエラーが発生しました";
    }
}

}  // namespace veld
