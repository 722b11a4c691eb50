#pragma once

#include <cstddef>
#include <cstdint>

#include "finder/del_file_info.h"
#include "finder/search_session.h"
#include "volume/disk_volume.h"

namespace veld {

// Content class of one cluster's bytes (CC_ values of the cluster map).
int ClassifyCluster(const DiskVolume& volume, const uint8_t* buffer, size_t length);
// The content tests alone (JPEG start, text, MP4 start, JPEG data, in that
// order), without the directory, fill and pattern tests: what a clip's first
// cluster must answer CC_MP4_START to.
int ClassifyContent(const uint8_t* buffer, size_t length);
// 0xFF 0xD8 followed by an application marker 0xFFE0..0xFFEF.
bool IsJpegStart(const uint8_t* buffer, size_t length);
// Class of a cluster as read from the source; 0 when the read fails.
int ReadAndClassifyCluster(DiskVolume& volume, uint32_t cluster);
// Examines clusters first..last (inclusive) of the session's volume and
// registers what it finds in the session.
int SearchClusters(SearchSession& session, uint32_t first, uint32_t last);

enum JpegWalkMode { JpegWalkFull = 0, JpegWalkExifOnly = 1 };
// Follows the JPEG marker structure from a start cluster of the session's
// volume; the last cluster examined, or 0 on failure.
uint32_t WalkJpeg(SearchSession& session, uint32_t start, JpegInfo* info, int mode);
void RegisterCarvedJpeg(SearchSession& session, const std::string& name, uint32_t length, uint32_t start,
                        const JpegInfo& info);

// Follows the top-level MP4/MOV atoms from a start cluster of the session's volume.
uint32_t WalkMp4Atoms(SearchSession& session, uint32_t start, Mp4Info* info);
void RegisterCarvedMp4(SearchSession& session, const std::string& name, uint32_t length, uint32_t start,
                       const Mp4Info& info);

}  // namespace veld
