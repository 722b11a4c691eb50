#include "finder/media_carving.h"

#include "base/trace.h"
#include "finder/carved_file.h"
#include "finder/isobmff_walk.h"
#include "finder/media_format.h"
#include "finder/mpeg_ps_walk.h"
#include "finder/mpeg_ts_walk.h"
#include "finder/registry.h"
#include "finder/riff_avi_walk.h"
#include "finder/tiff_raw_walk.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

struct WalkOutcome {
    uint64_t last = 0;
    MediaInfo media;
    JpegInfo exif;
    Mp4Info mp4;
};

WalkOutcome Walk(SearchSession& session, uint64_t start, ContentClass startClass) {
    WalkOutcome out;
    switch (startClass) {
    case ContentClass::Mp4Start: out.last = WalkIsoBmff(session, start, &out.mp4, &out.media, &out.exif); break;
    case ContentClass::RawStart: out.last = WalkTiffRaw(session, start, &out.media, &out.exif); break;
    case ContentClass::AviStart: out.last = WalkRiffAvi(session, start, &out.media); break;
    case ContentClass::TsStart: out.last = WalkMpegTs(session, start, &out.media); break;
    case ContentClass::PsStart: out.last = WalkMpegPs(session, start, &out.media); break;
    default: break;
    }
    return out;
}

}  // namespace

bool IsMediaStartClass(ContentClass c) {
    return c == ContentClass::Mp4Start || c == ContentClass::RawStart || c == ContentClass::AviStart || c == ContentClass::TsStart || c == ContentClass::PsStart;
}

ContentClass MediaDataClass(ContentClass startClass) {
    switch (startClass) {
    case ContentClass::Mp4Start: return ContentClass::Mp4Data;
    case ContentClass::RawStart: return ContentClass::RawData;
    case ContentClass::AviStart: return ContentClass::AviData;
    case ContentClass::TsStart:
    case ContentClass::PsStart: return ContentClass::MpegData;
    default: return ContentClass::None;
    }
}

uint64_t CarveMediaFile(SearchSession& session, uint64_t start, ContentClass startClass) {
    WalkOutcome out = Walk(session, start, startClass);
    if (out.last == 0 || out.media.length == 0) return 0;
    const MediaFormat format = MediaFormat(out.media.format);
    DelFileInfo record = CarvedFileRecord(CarvedFileName(start, MediaFormatExtension(format)), out.media.length,
                                          start, out.media.clusterCount, startClass);
    record.media = out.media;
    record.jpeg = out.exif;
    record.mp4 = out.mp4;
    RegisterFoundFile(session, std::move(record));
    return out.last;
}

void ReadMediaOfRecord(SearchSession& session, DelFileInfo& record, uint64_t firstCluster, ContentClass firstClass,
                       uint64_t* walkedLength, bool* partlyMissing) {
    if (walkedLength) *walkedLength = 0;
    if (partlyMissing) *partlyMissing = false;
    if (!IsMediaStartClass(firstClass)) return;
    try {
        WalkOutcome out = Walk(session, firstCluster, firstClass);
        if (out.media.format == FormatNone) return;
        if (walkedLength) *walkedLength = out.last != 0 ? out.media.length : 0;
        if (partlyMissing) *partlyMissing = out.media.partlyMissing != 0;
        out.media.length = 0;  // the entry's size stands
        out.media.clusterCount = 0;
        out.media.partlyMissing = 0;
        record.media = out.media;
        record.jpeg = out.exif;
        record.mp4 = out.mp4;
    } catch (...) {
        TraceLine("ERROR registry: metadata walk from cluster %llu failed: %s", (unsigned long long)firstCluster,
                  CaughtExceptionText().c_str());
    }
}

}  // namespace veld
