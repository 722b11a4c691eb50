// Disk image writing: copies an image file made by the image tool back onto
// a card. Nothing is written unless the target passes the writing rules
// (removable, not mounted) and the image is exactly the target's size; after
// writing, the whole target is read back and compared with the image.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/disk_job.h"
#include "tools/write_target.h"
#include "volume/disk_volume.h"

namespace veld {

class DiskRestoreJob final : public DiskJob {
public:
    ~DiskRestoreJob() override;
    // The open step: opens the image file for reading and the target (a
    // drive letter, or else a block device or file by path) for writing.
    // 0 (DiskOpenOk) or a DiskToolOpenResult with OpenFailureText().
    int Open(const std::string& imagePath, char driveLetter, const std::string& targetPath,
             const WriteTargetRules& rules = {});
    // The same with a target the caller has opened for writing and checked.
    int Open(const std::string& imagePath, std::unique_ptr<DiskVolume> target);

    int64_t ImageSize() const { return size_; }
    // The target as located by the path form of Open (for the confirmation).
    const WriteTarget& Target() const { return target_; }

private:
    int Work() override;
    void Release(int result) override;
    std::string ResultText(int result) const override;

    std::unique_ptr<RawDevice> image_;
    std::unique_ptr<DiskVolume> volume_;
    WriteTarget target_;
    int64_t size_ = 0;
    std::vector<uint8_t> buffer_, readBack_;
};

}  // namespace veld
