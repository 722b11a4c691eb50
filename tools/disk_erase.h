// Complete erase: overwrites every byte of a card so that nothing on it can
// be found again. The plain mode writes one pass of zeros; the US Department
// of Defense mode writes three passes - a fixed byte, its complement, then
// random bytes from a cryptographic source - and reads the last pass back to
// verify it. A target must pass the writing rules (removable, not mounted).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/disk_job.h"
#include "tools/erase_pattern.h"
#include "tools/write_target.h"
#include "volume/disk_volume.h"

namespace veld {

enum EraseMode : int { ErasePlain = 0, EraseDod = 1 };

// The fixed byte of the first pass of the Department of Defense mode; the
// second pass writes its complement.
constexpr uint8_t kDodFirstPassByte = 0x00;

class DiskEraseJob final : public DiskJob {
public:
    ~DiskEraseJob() override;
    // The open step: locates the target (a drive letter, or else a block
    // device or file by path), applies the writing rules and opens it for
    // writing. 0 (DiskOpenOk) or a DiskToolOpenResult with OpenFailureText().
    int Open(char driveLetter, const std::string& targetPath, EraseMode mode, const WriteTargetRules& rules = {});
    // The same with a target the caller has opened for writing and checked.
    int Open(std::unique_ptr<DiskVolume> target, EraseMode mode);

    int64_t EraseSize() const { return size_; }
    const WriteTarget& Target() const { return target_; }

private:
    int Work() override;
    void Release(int result) override;
    std::string ResultText(int result) const override;
    // The bytes of pass (0-based) for the chunk that starts at offset.
    bool FillPass(int pass, int64_t offset, uint8_t* out, uint32_t count) const;

    std::unique_ptr<DiskVolume> volume_;
    WriteTarget target_;
    EraseMode mode_ = ErasePlain;
    int64_t size_ = 0;
    RandomPattern random_;
    std::vector<uint8_t> buffer_, readBack_;
};

}  // namespace veld
