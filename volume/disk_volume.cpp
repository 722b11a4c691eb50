#include "volume/disk_volume.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include "platform/removable_drives.h"
#include "volume/boot_sector.h"

namespace veld {
namespace {

// Like errno, the reason of the last failed open belongs to the thread that
// opened: a search worker's failure never shows up in another thread's text.
thread_local std::string gLastOpenError;
thread_local bool gLastOpenDenied = false;

void RememberOpenFailure(const std::string& what) {
    int err = errno;
    gLastOpenDenied = (err == EACCES || err == EPERM);
    gLastOpenError = what + ": " + std::strerror(err);
}

std::unique_ptr<DiskVolume> Finish(std::unique_ptr<DiskVolume> volume) {
    gLastOpenError.clear();
    gLastOpenDenied = false;
    LoadGeometry(*volume);
    return volume;
}

std::string DevicePathFor(char letter) { return DevicePathOfDriveLetter(letter); }

}  // namespace

std::unique_ptr<DiskVolume> DiskIO_OpenDrive(char driveLetter, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->driveNumber = DriveNumberOfLetter(driveLetter);
    std::string path = DevicePathFor(driveLetter);
    if (path.empty()) {
        errno = ENODEV;
        RememberOpenFailure(std::string(1, driveLetter) + ":");
        return nullptr;
    }
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceDrive;
    volume->sourceName = std::string(1, driveLetter);
    volume->devicePath = path;
    return Finish(std::move(volume));
}

std::unique_ptr<DiskVolume> DiskIO_OpenImage(const std::string& path, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceImage;
    volume->devicePath = path;
    auto opened = Finish(std::move(volume));
    opened->sourceName = path;
    return opened;
}

std::unique_ptr<DiskVolume> DiskIO_OpenMemory(std::vector<uint8_t> bytes) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenMemoryDevice(std::move(bytes));
    volume->sourceKind = SourceImage;
    volume->sourceName = "(memory)";
    return Finish(std::move(volume));
}

std::unique_ptr<DiskVolume> DiskIO_OpenDevice(const std::string& path, bool writable) {
    auto volume = std::make_unique<DiskVolume>();
    volume->device = OpenRawPath(path, writable);
    if (!volume->device) {
        RememberOpenFailure(path);
        return nullptr;
    }
    volume->sourceKind = SourceDrive;
    volume->sourceName = path;
    volume->devicePath = path;
    return Finish(std::move(volume));
}

bool IsBlockDevicePath(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

std::unique_ptr<DiskVolume> DiskIO_Open(const std::string& imagePath, char driveLetter) {
    if (!imagePath.empty()) {
        // A block device given by path is a drive, not an image.
        if (IsBlockDevicePath(imagePath)) return DiskIO_OpenDevice(imagePath, false);
        return DiskIO_OpenImage(imagePath, false);
    }
    return DiskIO_OpenDrive(driveLetter, false);
}

bool DiskIO_Reopen(DiskVolume& volume) {
    if (volume.devicePath.empty()) return volume.device != nullptr;  // in-memory source
    auto device = OpenRawPath(volume.devicePath, false);
    if (!device) {
        RememberOpenFailure(volume.devicePath);
        return false;
    }
    volume.device = std::move(device);
    return true;
}

void DiskIO_CloseHandle(DiskVolume& volume) {
    if (!volume.devicePath.empty()) volume.device.reset();
}

void DiskIO_Close(std::unique_ptr<DiskVolume>& volume) { volume.reset(); }

int64_t DiskIO_Seek(DiskVolume* volume, int64_t offset) {
    if (!volume) return -1;
    if (!volume->device) return 0;
    if (!volume->device->Seek(offset)) return -1;
    return int64_t(uint32_t(uint64_t(offset) & 0xFFFFFFFFu));
}

bool DiskIO_Read(DiskVolume* volume, void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!volume || !volume->device) return false;
    if (!volume->device->Read(buffer, count, done)) {
        *done = 0;
        return false;
    }
    return true;
}

bool DiskIO_Write(DiskVolume* volume, const void* buffer, uint32_t count, uint32_t* done) {
    *done = 0;
    if (!volume || !volume->device) return false;
    if (!volume->device->Write(buffer, count, done)) {
        *done = 0;
        return false;
    }
    return true;
}

int64_t DiskIO_QueryRawSize(int driveNumber, uint32_t* sectorSize) {
    *sectorSize = 0;
    if (driveNumber < 0 || driveNumber > 25) return 0;
    std::string path = DevicePathOfDriveLetter(char('A' + driveNumber));
    if (path.empty()) return 0;
    auto device = OpenRawPath(path, false);
    if (!device) return 0;
    int64_t bytes = device->Size();
    if (bytes <= 0) return 0;
    *sectorSize = device->SectorSize();
    return bytes >> 9;
}

const std::string& DiskIO_LastOpenError() { return gLastOpenError; }
bool DiskIO_LastOpenDenied() { return gLastOpenDenied; }

}  // namespace veld
