#include "cli/record_json.h"

#include "cli/json_writer.h"
#include "cli/terminal_text.h"
#include "finder/media_format.h"
#include "search/found_file_columns.h"

namespace veld {

std::string FoundFileJson(const DelFileInfo& r, const std::optional<std::string>& savedPath) {
    const JpegInfo& j = r.jpeg;
    JsonObject jpeg;
    jpeg.Add("found", j.found != 0)
        .Add("length", j.length)
        .Add("make", j.make)
        .Add("model", j.model)
        .Add("datetime", j.dateTime)
        .Add("exif_width", j.exifWidth)
        .Add("exif_height", j.exifHeight)
        .Add("frame_width", j.frameWidth)
        .Add("frame_height", j.frameHeight)
        .Add("partly_missing", j.partlyMissing != 0)
        .Add("cluster_count", j.clusterCount)
        .Add("lat_ref", j.latRef ? std::string(1, j.latRef) : std::string())
        .Add("lat_deg", j.latDeg)
        .Add("lat_min", j.latMin)
        .Add("lat_sec", j.latSec)
        .Add("lon_ref", j.lonRef ? std::string(1, j.lonRef) : std::string())
        .Add("lon_deg", j.lonDeg)
        .Add("lon_min", j.lonMin)
        .Add("lon_sec", j.lonSec);
    const Mp4Info& m = r.mp4;
    JsonObject mp4;
    mp4.Add("found", m.found != 0)
        .Add("length", m.length)
        .Add("ftyp_size", m.ftypSize)
        .Add("major_brand", m.majorBrand)
        .Add("minor_version", m.minorVersion)
        .Add("compatible_brand1", m.compatibleBrand1)
        .Add("compatible_brand2", m.compatibleBrand2)
        .Add("cluster_count", m.clusterCount);
    const MediaInfo& f = r.media;
    JsonObject media;
    media.Add("format", std::string(MediaFormatExtension(MediaFormat(f.format))))
        .Add("length", f.length)
        .Add("partly_missing", f.partlyMissing != 0)
        .Add("width", f.width)
        .Add("height", f.height)
        .Add("duration_ms", f.durationMs)
        .Add("created", f.created)
        .Add("preview_offset", f.previewOffset)
        .Add("preview_length", f.previewLength)
        .Add("cluster_count", f.clusterCount);

    JsonObject out;
    out.Add("index", r.index)
        .Add("name", r.name.value_or(FoundFileColumnText(r, 0)))
        .Add("folder", r.folder.value_or(std::string()))
        .Add("ext", r.extension)
        .Add("size", r.fileSize)
        .Add("state", r.state)
        .Add("state_text", FoundFileStateText(r))
        .Add("start_cluster", r.startCluster)
        .Add("clusters_needed", r.clustersNeeded)
        .Add("clusters_collected", r.clustersCollected)
        .Add("first_class", int(r.firstClass))
        .Add("is_image", r.isImage != 0)
        .Add("has_thumbnail", r.thumbnail != nullptr)
        .Add("shot", FoundFileShootingDate(r))
        .Add("orientation", int(r.jpeg.orientation))
        .Add("remarks", r.remarks.value_or(std::string()));
    if (savedPath)
        out.Add("saved", *savedPath);
    else
        out.AddNull("saved");
    out.AddRaw("jpeg", jpeg.str()).AddRaw("mp4", mp4.str()).AddRaw("media", media.str());
    return out.str();
}

std::string FoundFileHeaderLine() {
    std::string line;
    for (int c = 0; c < kFoundFileColumnCount; ++c) {
        if (c) line += '\t';
        line += FoundFileColumnHeading(c);
    }
    return line;
}

std::string FoundFileRowLine(const DelFileInfo& record) {
    std::string line;
    for (int c = 0; c < kFoundFileColumnCount; ++c) {
        if (c) line += '\t';
        line += TerminalText(FoundFileColumnText(record, c));
    }
    return line;
}

}  // namespace veld
