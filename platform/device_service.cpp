#include "platform/device_service.h"

#include <mutex>

namespace veld {
namespace {

std::mutex gLock;
DeviceService gService;

DeviceService Current() {
    std::lock_guard<std::mutex> guard(gLock);
    return gService;
}

}  // namespace

void InstallDeviceService(DeviceService service) {
    std::lock_guard<std::mutex> guard(gLock);
    gService = service.open ? std::move(service) : DeviceService{};
}

std::string DeviceServiceName() { return Current().name; }

int OpenThroughDeviceService(const std::string& path, bool writable, std::string* refusal) {
    const DeviceService service = Current();
    if (!service.open) {
        *refusal = "no disk service is installed";
        return -1;
    }
    refusal->clear();
    return service.open(path, writable, refusal);
}

}  // namespace veld
