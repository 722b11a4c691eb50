#include "tools/disk_erase.h"

#include <cerrno>
#include <cstring>

#include "base/trace.h"

namespace veld {

DiskEraseJob::~DiskEraseJob() { Finish(); }

int DiskEraseJob::Open(char driveLetter, const std::string& targetPath, EraseMode mode,
                       const WriteTargetRules& rules) {
    std::string message;
    if (!LocateWriteTarget(driveLetter, targetPath, rules, &target_, &message))
        return OpenFailed(DiskOpenSourceFailed, std::string(DiskToolOpenErrorText()) + "\n" + message);
    if (int code = CheckWriteTarget(target_, rules, &message)) return OpenFailed(code, message);
    auto volume = target_.isDevice ? DiskIO_OpenDevice(target_.path, true) : DiskIO_OpenImage(target_.path, true);
    if (!volume)
        return OpenFailed(DiskOpenSourceFailed, std::string(DiskToolOpenErrorText()) + "\n" + DiskIO_LastOpenError());
    return Open(std::move(volume), mode);
}

int DiskEraseJob::Open(std::unique_ptr<DiskVolume> target, EraseMode mode) {
    volume_ = std::move(target);
    mode_ = mode;
    if (!volume_->accessNote.empty()) TraceLine("%s", volume_->accessNote.c_str());
    size_ = volume_->device ? volume_->device->Size() : -1;
    if (size_ <= 0)
        return OpenFailed(DiskOpenSizeUnknown, volume_->sourceName + " のサイズがわかりません (メディアが入っていますか)");
    if (mode_ == EraseDod && !random_.Init())
        return OpenFailed(DiskOpenSourceFailed, "乱数を用意できないため、消去を始められません");
    sectorSize_ = volume_->device->SectorSize();
    buffer_.assign(kDiskChunkBytes, 0);
    if (mode_ == EraseDod) readBack_.assign(kDiskChunkBytes, 0);
    cells_.passCount.store(mode_ == EraseDod ? 3 : 1);
    return DiskOpenOk;
}

bool DiskEraseJob::FillPass(int pass, int64_t offset, uint8_t* out, uint32_t count) const {
    if (mode_ == ErasePlain) {
        std::memset(out, 0, count);
        return true;
    }
    switch (pass) {
        case 0: std::memset(out, kDodFirstPassByte, count); return true;
        case 1: std::memset(out, uint8_t(~kDodFirstPassByte), count); return true;
        default: return random_.Fill(uint64_t(offset / kDiskChunkBytes), out, count);
    }
}

int DiskEraseJob::Work() {
    const int passes = cells_.passCount.load();
    for (int pass = 0; pass < passes; ++pass) {
        cells_.pass.store(pass + 1);
        BeginPhase(DiskPhaseErasing, size_);
        for (int64_t offset = 0; offset < size_;) {
            if (CancelRequested()) return DiskToolCancelled;
            const uint32_t count = uint32_t(std::min<int64_t>(kDiskChunkBytes, size_ - offset));
            if (!FillPass(pass, offset, buffer_.data(), count)) {
                NoteFailure(offset, 0);
                return DiskToolWriteError;
            }
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
    }
    if (mode_ != EraseDod) return DiskToolOk;

    // Read the last pass back from the card and compare it with its stream.
    BeginPhase(DiskPhaseVerifying, size_);
    for (int64_t offset = 0; offset < size_;) {
        if (CancelRequested()) return DiskToolCancelled;
        const uint32_t count = uint32_t(std::min<int64_t>(kDiskChunkBytes, size_ - offset));
        uint32_t done = 0;
        errno = 0;
        if (!DiskIO_ReadAt(volume_.get(), uint64_t(offset), readBack_.data(), count, &done) || done < count) {
            NoteFailure(offset + done, errno);
            return DiskToolVerifyReadError;
        }
        if (!FillPass(passes - 1, offset, buffer_.data(), count)) {
            NoteFailure(offset, 0);
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

void DiskEraseJob::Release(int) { DiskIO_Close(volume_); }

std::string DiskEraseJob::ResultText(int result) const {
    switch (result) {
        case DiskToolOk: return "消去が完了しました";
        case DiskToolCancelled: return DiskToolAbortedText();
        case DiskToolVerifyMismatch:
        case DiskToolVerifyReadError: return "消去した内容の確認中にエラーが発生しました";
        default: return "消去中にエラーが発生しました";
    }
}

}  // namespace veld
