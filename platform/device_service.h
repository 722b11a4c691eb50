// Block devices this user may not open: the desktop's disk service opens them
// on the user's behalf (its policy may first ask for the password) and hands
// over a descriptor. The front end installs the service (the Qt adapter asks
// UDisks2); OpenRawPath turns to it when opening a block device directly is
// refused, so a user who already has the right never sees a password prompt.
#pragma once

#include <functional>
#include <string>

namespace veld {

struct DeviceService {
    std::string name;  // as the trace names it ("UDisks2")
    // Opens the block device at path read-only, or read-write when writable;
    // returns a descriptor the caller owns, or -1 with the service's reason
    // (not available, not authorised, no such device) in *refusal.
    std::function<int(const std::string& path, bool writable, std::string* refusal)> open;
};

// Installs the service for every thread (an empty `open` removes it).
void InstallDeviceService(DeviceService service);
// The installed service's name, "" when there is none.
std::string DeviceServiceName();
// Asks the installed service; -1 with a reason when there is none.
int OpenThroughDeviceService(const std::string& path, bool writable, std::string* refusal);

}  // namespace veld
