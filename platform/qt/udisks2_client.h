// The desktop's disk service over the system D-Bus (UDisks2): it opens a
// card reader's block device for the user, after polkit has asked for the
// password (once, as for the desktop's own disk utility), and it tells what
// it knows of the drives without the user's rights.
#pragma once

#include <QDBusConnection>
#include <string>
#include <vector>

#include "platform/removable_drives.h"

namespace veld {

// Installs UDisks2 on the system bus as the engine's device service (see
// platform/device_service.h). Needs a QCoreApplication.
void InstallUDisks2DeviceService();

// Opens the block device at path through UDisks2 on `bus`: the manager
// resolves the path to its block object, whose OpenDevice hands over a
// descriptor in mode "r", or "rw" with O_EXCL and O_SYNC (a mounted card is
// refused, writes reach the card). The caller owns the descriptor; -1 with
// the reason in *refusal.
int OpenDeviceThroughUDisks2(const QDBusConnection& bus, const std::string& path, bool writable,
                             std::string* refusal);

// UDisks2's view of every block device that belongs to a drive: the reader's
// vendor and model, the size (none without a medium) and the file system it
// has read. Empty when UDisks2 does not answer.
std::vector<ServiceDriveView> UDisks2DriveView(const QDBusConnection& bus);
std::vector<ServiceDriveView> UDisks2DriveView();  // on the system bus

}  // namespace veld
