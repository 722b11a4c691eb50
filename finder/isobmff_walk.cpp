// Follows the top-level boxes of an ISO base media file (MP4, MOV, 3GP, 3G2,
// HEIF/HEIC/AVIF, CR3) from its start cluster to find where it ends, then
// reads its metadata through the boxes it passed.
//
// Box header (big-endian):
//   0  u32  size, header included; 1: a u64 size follows the type; 0: the
//           box runs to the end of the file
//   4  4 bytes type ("ftyp", "moov", "meta", "mdat", ...)
//   8  u64  the large size, only when size is 1
// "ftyp" body: 8 major brand, 12 u32 minor version, 16.. compatible brands.
//
// A clip (and a CR3) is whole with "ftyp", "moov" and "mdat"; a HEIF picture
// with "ftyp" and "meta", whose item locations ("iloc") must lie inside the
// boxes walked. The file ends where the first box header of another type
// begins (normally the zero slack after the last box).
#include "finder/isobmff_walk.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "finder/carved_bytes.h"
#include "finder/claimed_clusters.h"
#include "finder/cluster_classifier.h"
#include "finder/cluster_window.h"
#include "finder/exif_reader.h"
#include "finder/isobmff_boxes.h"
#include "finder/media_time.h"
#include "volume/boot_sector.h"
#include "volume/cluster_map.h"

namespace veld {
namespace {

constexpr int kBoxSize = 0;       // u32
constexpr int kBoxType = 4;       // 4 characters
constexpr int kBoxLargeSize = 8;  // u64 when the size field is 1
constexpr int kBoxUserType = 8;   // "uuid": 16 bytes after the header
constexpr int kMajorBrand = 8;
constexpr int kMinorVersion = 12;
constexpr int kBrands = 16;
constexpr uint32_t kHeader = 8;
constexpr uint64_t kLargeHeader = 16;
constexpr int kMaxBrands = 16;

// What is read of a box for its metadata at most.
constexpr uint64_t kMaxMetaBytes = 1u << 20;
constexpr uint64_t kMaxMoovBytes = 8u << 20;
constexpr uint64_t kMaxExifBytes = 256u << 10;
constexpr uint64_t kMaxPreviewBoxBytes = 16u << 20;

bool Accepted(const ByteReader& r, uint64_t o) {
    // "wide" is QuickTime's 8-byte placeholder before "mdat" (room for a 64-bit
    // size); cameras write it in every MOV clip. "skip" is padding like "free",
    // "uuid" holds a maker's own data (many cameras put one at the top level;
    // CR3 its preview), "pnot" a QuickTime preview reference; "meta" holds a
    // HEIF picture's items; "moof", "mfra" and "sidx" belong to clips
    // recorded in fragments.
    static const char* const kTypes[] = {"ftyp", "moov", "mdat", "free", "prfl", "wide", "skip",
                                         "uuid", "pnot", "meta", "moof", "mfra", "sidx"};
    for (const char* t : kTypes)
        if (r.equals(o + kBoxType, t, 4)) return true;
    return false;
}

bool StartsWith(const std::string& brand, const char* prefix) { return brand.compare(0, 3, prefix) == 0; }

// The format one brand names; FormatNone for the generic and unknown ones.
MediaFormat FormatOfBrand(const std::string& brand) {
    static const struct {
        const char* brand;
        MediaFormat format;
    } kBrandTable[] = {
        {"heic", FormatHeic}, {"heix", FormatHeic}, {"heim", FormatHeic}, {"heis", FormatHeic},
        {"hevc", FormatHeic}, {"hevx", FormatHeic}, {"avif", FormatAvif}, {"avis", FormatAvif},
        {"crx ", FormatCr3},  {"qt  ", FormatMov},
    };
    for (const auto& row : kBrandTable)
        if (brand == row.brand) return row.format;
    if (StartsWith(brand, "3g2")) return Format3g2;
    if (StartsWith(brand, "3gp") || StartsWith(brand, "3gg") || StartsWith(brand, "3ge") ||
        StartsWith(brand, "3gs") || StartsWith(brand, "3gr"))
        return Format3gp;
    return FormatNone;
}

bool IsGenericHeifBrand(const std::string& brand) { return brand == "mif1" || brand == "msf1" || brand == "mif2"; }

bool IsPictureFormat(MediaFormat f) { return MediaFormatIsHeif(f); }

// Where the walk met the boxes whose contents it reads afterwards.
struct BoxPlaces {
    FileExtent meta, moov, preview;
};

// Reads the EXIF item of a HEIF picture: a u32 offset of the TIFF header
// from the byte after it, then the TIFF block (normally after "Exif\0\0").
void ReadHeifExif(CarvedBytes& file, const std::vector<FileExtent>& extents, JpegInfo* exif) {
    std::vector<uint8_t> item;
    for (const FileExtent& e : extents) {
        if (item.size() + e.length > kMaxExifBytes) break;
        std::vector<uint8_t> part = file.Read(e.offset, size_t(e.length));
        item.insert(item.end(), part.begin(), part.end());
        if (part.size() < e.length) break;
    }
    const ByteReader r(item.data(), item.size());
    const uint64_t tiffAt = 4 + uint64_t(r.be32(0));
    if (!r.ok() || tiffAt >= item.size()) return;
    ParseExif(item.data() + tiffAt, item.size() - size_t(tiffAt), exif);
}

void ReadCr3Tiffs(const std::vector<uint8_t>& moov, const MovieHeader& movie, JpegInfo* exif) {
    auto block = [&](const FileExtent& e) -> std::pair<const uint8_t*, size_t> {
        if (e.length == 0 || e.offset > moov.size() || e.length > moov.size() - e.offset) return {nullptr, 0};
        return {moov.data() + e.offset, size_t(e.length)};
    };
    if (auto [p, n] = block(movie.cmt1); p) ParseTiffMetadata(p, n, exif);
    if (auto [p, n] = block(movie.cmt2); p) ParseTiffMetadata(p, n, exif);
    if (auto [p, n] = block(movie.cmt4); p) ParseGpsTiff(p, n, exif);
}

// The JPEG inside CR3's preview box: from its start-of-image marker to the
// end of the box.
void FindCr3Preview(CarvedBytes& file, const FileExtent& box, MediaInfo* media) {
    if (box.length == 0 || box.length > kMaxPreviewBoxBytes) return;
    const std::vector<uint8_t> bytes = file.Read(box.offset, size_t(std::min<uint64_t>(box.length, 4096)));
    for (size_t i = 24; i + 3 <= bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xD8 && bytes[i + 2] == 0xFF) {
            media->previewOffset = box.offset + i;
            media->previewLength = uint32_t(box.length - i);
            return;
        }
    }
}

// Metadata from the boxes the walk passed. Returns the furthest byte a HEIF
// picture's items reach (0 for other files).
uint64_t ReadMetadata(SearchSession& session, uint64_t start, const BoxPlaces& places, MediaInfo* media,
                  JpegInfo* exif) {
    CarvedBytes file(*session.volume, start);
    JpegInfo scratch;
    if (!exif) exif = &scratch;
    const MediaFormat format = MediaFormat(media->format);
    uint64_t itemsEnd = 0;
    if (MediaFormatIsHeif(format) && places.meta.length != 0) {
        const std::vector<uint8_t> bytes = file.Read(places.meta.offset, size_t(std::min(places.meta.length, kMaxMetaBytes)));
        const HeifMeta meta = ParseHeifMeta(ByteReader(bytes.data(), bytes.size()));
        media->width = meta.width;
        media->height = meta.height;
        if (!meta.exif.empty()) ReadHeifExif(file, meta.exif, exif);
        itemsEnd = meta.dataEnd;
    }
    if (places.moov.length != 0) {
        const std::vector<uint8_t> bytes = file.Read(places.moov.offset, size_t(std::min(places.moov.length, kMaxMoovBytes)));
        const MovieHeader movie = ParseMoov(ByteReader(bytes.data(), bytes.size()));
        if (!IsPictureFormat(format) && format != FormatCr3) {
            if (movie.created > uint64_t(kIsoEpochToUnix))
                media->created = LocalTimeText(int64_t(movie.created) - kIsoEpochToUnix);
            media->durationMs = uint32_t(std::min<uint64_t>(movie.durationMs, UINT32_MAX));
            media->width = movie.width;
            media->height = movie.height;
        }
        if (format == FormatCr3) ReadCr3Tiffs(bytes, movie, exif);
    }
    if (format == FormatCr3) FindCr3Preview(file, places.preview, media);
    return itemsEnd;
}

// Where an open "mdat" ends: the clusters after the window's cluster are
// followed up to fill, another file's start (a picture's too), a live file's
// cluster, the volume's end or the 32-bit length limit. Bytes from the start.
uint64_t OpenMdatEnd(SearchSession& session, const ClusterWindow& window, uint64_t start) {
    const uint64_t proven = (window.cluster() - start + 1) * window.clusterSize();  // the header's cluster
    return ProvenLength(session, start, proven, kMaxCarvedLength, Claim::Unbounded);
}

}  // namespace

MediaFormat IsoBmffFormatOfBrands(const std::string& major, const std::string* compatible, size_t count) {
    const MediaFormat byMajor = FormatOfBrand(major);
    if (byMajor != FormatNone) return byMajor;
    for (size_t i = 0; i < count; ++i) {
        const MediaFormat f = FormatOfBrand(compatible[i]);
        // A generic major brand takes the picture brand among its compatible ones.
        if (f != FormatNone && (!IsGenericHeifBrand(major) || MediaFormatIsHeif(f))) return f;
    }
    if (IsGenericHeifBrand(major)) return FormatHeif;
    for (size_t i = 0; i < count; ++i)
        if (IsGenericHeifBrand(compatible[i])) return FormatHeif;
    return FormatMp4;
}

uint64_t WalkIsoBmff(SearchSession& session, uint64_t start, Mp4Info* info, MediaInfo* mediaOut, JpegInfo* exif) {
    if (!info) return 0;
    *info = Mp4Info{};
    MediaInfo scratch;
    MediaInfo* media = mediaOut ? mediaOut : &scratch;
    *media = MediaInfo{};
    if (exif) *exif = JpegInfo{};
    if (!session.volume) return 0;
    ClusterWindow window(*session.volume, start, session.sequential);
    if (!window.usable()) return 0;
    const uint32_t cs = window.clusterSize();
    const uint64_t a = start;

    uint64_t o = 0;  // next box header inside the window
    bool ftyp = false, moov = false, mdat = false, meta = false;
    MediaFormat format = FormatMp4;
    BoxPlaces places;
    uint64_t current = 0;
    bool ok = true;
    bool first = true;
    // Set when no end could be found: what lies before that point is kept.
    bool cutShort = false;
    uint64_t keptLength = 0;
    bool mdatToEnd = false;  // a HEIF picture's last "mdat" of size 0
    bool openMdat = false;   // a clip's "mdat" whose size gives no end on the card

    // Whether the boxes seen make a whole file of the format.
    auto complete = [&] { return ftyp && (MediaFormatIsHeif(format) ? meta : (moov && mdat)); };
    // Whether they are worth keeping as a damaged file: more than "ftyp" alone.
    auto worthKeeping = [&] { return ftyp && (moov || mdat || meta); };

    for (;;) {
        if (!window.Read()) {
            // Past the volume, or a failed or short read: the next header is
            // not all there. What the card holds before this window is kept.
            const uint64_t length =
                std::min<uint64_t>((window.cluster() - a) * cs, CarvedBytes(*session.volume, start).limit() / cs * cs);
            if (!first && worthKeeping() && length > 0 && length <= kMaxCarvedLength) {
                cutShort = true;
                keptLength = length;
                current = a + length / cs - 1;
            } else {
                ok = false;
            }
            break;
        }
        const ByteReader r = window.reader();
        const uint64_t windowCluster = window.cluster();
        // A cluster of one byte value where a box header should be. A whole
        // file whose last box ends exactly at this cluster's start ends here;
        // otherwise the file was overwritten or never finished, and what came
        // before this cluster is kept.
        if (window.FirstClusterUniform()) {
            const uint64_t length = (windowCluster - a) * cs;
            if (!first && length <= kMaxCarvedLength && ((o == 0 && complete()) || worthKeeping())) {
                if (!(o == 0 && complete())) cutShort = true;
                keptLength = length;
                current = windowCluster - 1;  // the file's last cluster
            } else {
                ok = false;
            }
            break;
        }
        if (first) {
            if (ClassifyContent(window.data(), cs) != ContentClass::Mp4Start) {
                ok = false;
                break;
            }
            first = false;
        }
        info->found = 1;
        current = windowCluster;

        bool finished = false;
        while (o < cs) {
            const uint32_t size32 = r.be32(o + kBoxSize);
            // A second "ftyp" is the next file's.
            if (!Accepted(r, o) || (ftyp && r.equals(o + kBoxType, "ftyp", 4))) {
                // The file ends where the first foreign header begins.
                const uint64_t length = (current - a) * cs + o;
                if (length > kMaxCarvedLength || !worthKeeping()) {
                    ok = false;
                } else {
                    keptLength = length;
                    if (!complete()) cutShort = true;
                }
                finished = true;
                break;
            }
            // Box size: 1 takes the 64-bit size after the type. Size 0 ("to the
            // end of the file") gives no end on a card, except for a HEIF
            // picture's last "mdat", whose items say where it ends. Any other
            // size below a header's length is damage; so no box ever advances
            // the walk by less than 8 bytes.
            uint64_t size = size32;
            const uint64_t boxAt = (current - a) * cs + o;
            const bool isMdat = r.equals(o + kBoxType, "mdat", 4);
            if (size32 == 0 && MediaFormatIsHeif(format) && meta && isMdat) {
                mdat = true;
                mdatToEnd = true;
                keptLength = boxAt;  // the items below say where it ends
                finished = true;
                break;
            }
            if (size32 == 1) size = r.be64(o + kBoxLargeSize);
            // A recording the camera never closed (power lost) leaves its
            // "mdat" open: size 0, a 64-bit size still 0, or one beyond any
            // file. Its frames run on over the clusters that follow.
            const bool sizeUnusable =
                size32 == 0 || (size32 == 1 && size < kLargeHeader) || size > kMaxCarvedLength + cs;
            if (isMdat && ftyp && sizeUnusable) {
                mdat = true;
                openMdat = true;
                keptLength = boxAt;
                finished = true;
                break;
            }
            if ((size32 == 1 && size < kLargeHeader) || (size32 != 1 && size32 < kHeader)) {
                ok = false;
                finished = true;
                break;
            }

            if (r.equals(o + kBoxType, "ftyp", 4)) {
                ftyp = true;
                info->ftypSize = size32;
                if (size32 > 4) info->atomType = r.text(o + kBoxType, 4);
                if (size32 > 8) info->majorBrand = r.text(o + kMajorBrand, 4);
                if (size32 > 12) info->minorVersion = r.be32(o + kMinorVersion);
                if (size32 > 16) info->compatibleBrand1 = r.text(o + kBrands, 4);
                if (size32 > 20) info->compatibleBrand2 = r.text(o + kBrands + 4, 4);
                std::string brands[kMaxBrands];
                size_t count = 0;
                for (uint64_t b = kBrands; b + 4 <= std::min<uint64_t>(size, cs) && count < kMaxBrands; b += 4)
                    brands[count++] = r.text(o + b, 4);
                format = IsoBmffFormatOfBrands(info->majorBrand, brands, count);
            } else if (r.equals(o + kBoxType, "moov", 4)) {
                moov = true;
                places.moov = FileExtent{boxAt, size};
            } else if (r.equals(o + kBoxType, "meta", 4)) {
                meta = true;
                places.meta = FileExtent{boxAt, size};
            } else if (r.equals(o + kBoxType, "mdat", 4)) {
                mdat = true;
            } else if (r.equals(o + kBoxType, "uuid", 4) && r.has(o + kBoxUserType, 16) &&
                       std::memcmp(window.data() + o + kBoxUserType, kCanonPreviewUuid, 16) == 0) {
                places.preview = FileExtent{boxAt, size};
            }

            // A box that reaches over clusters the walk has not read is taken
            // only as far as the card proves it: clusters of fill, a folder or
            // another file's start were never its. What came before is kept.
            const uint64_t read = (current - a + 1) * cs;
            if (boxAt + size > read) {
                const bool padding = r.equals(o + kBoxType, "free", 4) || r.equals(o + kBoxType, "skip", 4) ||
                                     r.equals(o + kBoxType, "wide", 4);
                const uint64_t proven =
                    ProvenLength(session, a, read, boxAt + size, padding ? Claim::Padding : Claim::Data);
                if (proven < boxAt + size) {
                    if (worthKeeping() && proven > 0) {
                        keptLength = proven;
                        cutShort = true;
                        current = a + (proven - 1) / cs;
                    } else {
                        ok = false;
                    }
                    finished = true;
                    break;
                }
            }
            // A box reaching past the 32-bit length limit ends the walk before
            // the window arithmetic could overflow.
            if (size > kMaxCarvedLength + cs) {
                ok = false;
                finished = true;
                break;
            }
            o += size;
            if (o >= cs) {
                window.Advance(o / cs);
                o %= cs;
                break;
            }
        }
        if (finished || !ok) break;

        session.progress.Report(PhaseMp4Window, double(current), "");
    }

    if (ok && openMdat) {
        const uint64_t end = OpenMdatEnd(session, window, a);
        keptLength = std::max(keptLength, end);
        cutShort = true;
        current = a + (keptLength - 1) / cs;
    }
    if (ok && keptLength > 0) {
        media->format = format;
        media->length = uint32_t(keptLength);
        media->partlyMissing = cutShort ? 1 : 0;
        uint64_t itemsEnd = 0;
        try {
            itemsEnd = ReadMetadata(session, start, places, media, exif);
        } catch (...) {
            // What the readers had filled stays; the file is still found.
            TraceLine("ERROR ISO media walk: metadata of cluster %llu: %s", (unsigned long long)start,
                      CaughtExceptionText().c_str());
        }
        if (mdatToEnd) {
            // The picture ends where its items end, as far as the card proves
            // it (beyond the card, fill, another file's start or a live
            // file's cluster cut it short).
            const uint64_t read = (keptLength / cs + 1) * cs;  // the mdat header's cluster
            const uint64_t end = ProvenLength(session, start, read, itemsEnd, Claim::Data);
            if (end > keptLength) media->length = uint32_t(end);
            media->partlyMissing = end < itemsEnd || end <= keptLength ? 1 : 0;
            current = a + (media->length - 1) / cs;
        } else if (itemsEnd > media->length) {
            // Items beyond the boxes: the file was longer than what was found.
            TraceLine("ISO media at cluster %llu: items reach byte %llu, the boxes end at %u", (unsigned long long)start,
                      (unsigned long long)itemsEnd, media->length);
            media->partlyMissing = 1;
        }
        info->length = media->length;
    }

    if (current != 0 && current >= a) info->clusterCount = uint32_t(current - a + 1);
    media->clusterCount = info->clusterCount;
    return ok && keptLength > 0 ? current : 0;
}

}  // namespace veld
