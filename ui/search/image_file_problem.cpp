#include "ui/search/image_file_problem.h"

#include <QFileInfo>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "volume/disk_volume.h"

namespace veld {

namespace {

// Bytes at the start that must all be text for a file to be called one.
constexpr uint32_t kTextProbeBytes = 4096;

// Printable bytes, UTF-8 sequences and the white space of text files;
// a NUL or another control byte never appears in text.
bool IsTextByte(uint8_t byte) {
    return byte >= 0x20 ? byte != 0x7F : byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

}  // namespace

QString ImageFileProblem(const QString& path, DiskVolume& volume) {
    const QFileInfo file(path);
    // Devices report no size here; they hold what their medium holds.
    if (file.isFile()) {
        if (file.size() == 0) return QStringLiteral("%1: 空のファイルです (0 バイト)").arg(path);
        if (file.size() < kSmallestImageBytes)
            return QStringLiteral("%1: カードのイメージとしては小さすぎます (%2 バイト。1 セクタの %3 バイトに足りません)")
                .arg(path)
                .arg(file.size())
                .arg(kSmallestImageBytes);
    }
    // A file system or a partition table was found: a card image.
    if (volume.volumeKind != VolumeRaw || volume.partitionScheme != PartitionScheme::None) return {};
    std::vector<uint8_t> head(kTextProbeBytes);
    uint32_t done = 0;
    if (!DiskIO_ReadAt(&volume, 0, head.data(), uint32_t(head.size()), &done) || done == 0) return {};
    head.resize(done);
    if (std::all_of(head.begin(), head.end(), IsTextByte))
        return QStringLiteral("%1: カードのイメージではありません (テキストファイルです)").arg(path);
    return {};
}

}  // namespace veld
