// Disk image creation: a headerless byte-for-byte copy of a card's volume in
// a file ("*.img"), starting at the volume's first byte. The image holds the
// whole volume: for a FAT volume the boot sector's total sectors times its
// sector size (bounded by what the device holds), for any other source the
// whole device. The source is only ever opened for reading, so a card with
// its write-protect switch set images like any other. An image that could
// not be finished is removed when cancelled or when the file could not be
// written (a full disk); one cut short by a read error is kept, and the
// message says that it is incomplete.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/disk_job.h"
#include "volume/disk_volume.h"

namespace veld {

// Bytes an image of the volume holds; -1 when the device's size is unknown.
int64_t VolumeImageSize(const DiskVolume& volume);

// The path an image tool uses for the chosen file: ".img" is appended unless
// the path already ends in it (in any letter case). A path of three
// characters or fewer names no file: the result is "" and the tool does nothing.
std::string ImageFilePath(const std::string& path);

class DiskImageJob final : public DiskJob {
public:
    ~DiskImageJob() override;
    // The open step: opens the source read-only (a drive letter, or else a
    // block device or image file by path) and creates the image file; an
    // existing file is replaced only when replaceExisting is set.
    // 0 (DiskOpenOk) or a DiskToolOpenResult with OpenFailureText().
    int Open(char driveLetter, const std::string& sourcePath, const std::string& imagePath, bool replaceExisting);
    // The same with a source the caller has opened.
    int Open(std::unique_ptr<DiskVolume> source, const std::string& imagePath, bool replaceExisting);

    int64_t ImageSize() const { return size_; }
    const std::string& ImagePath() const { return imagePath_; }

private:
    int Work() override;
    void Release(int result) override;
    std::string ResultText(int result) const override;
    std::string Describe(int result) const override;

    std::unique_ptr<DiskVolume> source_;
    std::string imagePath_;
    int fd_ = -1;
    int64_t size_ = 0;
    std::vector<uint8_t> buffer_;
    bool removed_ = false;  // the partial image was removed at the end
};

}  // namespace veld
