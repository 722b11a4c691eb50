// TIFF layout as walked here (byte order from the first two bytes):
//   0  "II" little-endian or "MM" big-endian
//   2  u16 42 (TIFF, and most RAW), 0x4F52 "RO" or 0x5352 "RS" (Olympus ORF),
//      0x0055 (Panasonic RW2)
//   4  u32 offset of IFD0
//   8  "CR" 2 0 in a Canon CR2
// IFD: u16 entry count n, n entries of 12 bytes (u16 tag, u16 type, u32
// count, u32 value or offset of the values when they take more than four
// bytes), u32 offset of the next IFD.
// Tags followed: 273/279 strip offsets and byte counts, 324/325 tile offsets
// and byte counts, 513/514 an embedded JPEG's offset and length, 330 SubIFDs,
// 34665 EXIF IFD, 34853 GPS IFD, 40965 interoperability IFD, 37500 maker
// note, 46 (RW2) the embedded JPEG itself, 259 compression, 271 make, 272
// model, 50706 DNG version.
//
// RAF header (big-endian): 0 "FUJIFILMCCD-RAW ", 28 camera name (32 bytes),
// 84 u32 JPEG offset, 88 u32 JPEG length, 92 u32 CFA header offset, 96 u32
// its length, 100 u32 CFA offset, 104 u32 CFA length.
#include "finder/tiff_raw_walk.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/trace.h"
#include "finder/carved_bytes.h"
#include "finder/claimed_clusters.h"
#include "finder/cluster_window.h"
#include "finder/exif_reader.h"
#include "finder/file_starts.h"
#include "finder/media_format.h"

namespace veld {
namespace {

namespace tag {
constexpr uint16_t JpgFromRawRw2 = 46;
constexpr uint16_t NewSubfileType = 254;
constexpr uint16_t ImageWidth = 256;
constexpr uint16_t ImageLength = 257;
constexpr uint16_t Compression = 259;
constexpr uint16_t Make = 271;
constexpr uint16_t Model = 272;
constexpr uint16_t StripOffsets = 273;
constexpr uint16_t StripByteCounts = 279;
constexpr uint16_t TileOffsets = 324;
constexpr uint16_t TileByteCounts = 325;
constexpr uint16_t SubIfds = 330;
constexpr uint16_t JpegOffset = 513;
constexpr uint16_t JpegLength = 514;
constexpr uint16_t ExifIfd = 34665;
constexpr uint16_t GpsIfd = 34853;
constexpr uint16_t MakerNote = 37500;
constexpr uint16_t InteropIfd = 40965;
constexpr uint16_t DngVersion = 50706;
// Inside maker notes
constexpr uint16_t NikonPreviewIfd = 0x0011;
constexpr uint16_t PreviewStart = 0x0201;
constexpr uint16_t PreviewLength = 0x0202;
}  // namespace tag


constexpr int kMaxIfds = 64;
constexpr size_t kMaxRuns = 1u << 16;  // run starts kept for the card's proof
constexpr uint16_t kMaxEntries = 1000;
// Offsets in one strip or tile array: a 100-megapixel DNG in 128 x 128
// tiles has about 6,000.
constexpr uint64_t kMaxValues = 1u << 14;
constexpr uint64_t kMaxPreview = 64u << 20;     // a larger "preview" is no preview
constexpr size_t kMetadataBytes = 256u << 10;   // IFD0, EXIF and GPS IFDs lie in the file's first part
constexpr size_t kHeadBytes = 4u << 10;         // the TIFF or RAF header, and room for IFD0's start
constexpr size_t kJpegHeadBytes = 64u << 10;    // where an embedded JPEG's EXIF and frame header lie

uint64_t TypeSize(uint16_t type) {
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: case 16: case 17: case 18: return 8;
    default: return 0;
    }
}

struct Entry {
    uint16_t tag = 0, type = 0;
    uint32_t count = 0;
    uint32_t value = 0;      // the value field as a u32
    uint64_t at = 0;         // where the entry lies in the file
};

struct Candidate {
    uint64_t offset = 0, length = 0;
};

// The IFDs still to read, each offset once, no more than the walk visits.
struct IfdQueue {
    std::vector<uint64_t> order;
    std::set<uint64_t> seen;
    bool Full() const { return order.size() >= size_t(kMaxIfds); }
    void Add(uint64_t ifd) {
        if (!Full() && seen.insert(ifd).second) order.push_back(ifd);
    }
};

class TiffWalker {
public:
    TiffWalker(CarvedBytes& file, bool bigEndian) : file_(file), big_(bigEndian) {}

    uint64_t end = 0;                  // furthest byte pointed at
    std::vector<uint64_t> runStarts;   // where strips, tiles and embedded pictures begin
    bool pointsPastCard = false;       // a strip, tile or IFD lies beyond the card
    bool hasImageData = false;         // strips, tiles or an embedded JPEG were seen
    std::vector<Candidate> previews;
    std::string make, model;
    bool dng = false;
    int64_t pixels = 0;
    int32_t width = 0, height = 0;

    void WalkFrom(uint64_t ifd0) {
        IfdQueue queue;
        queue.Add(ifd0);
        for (size_t i = 0; i < queue.order.size() && visited_.size() < size_t(kMaxIfds); ++i) {
            const uint64_t ifd = queue.order[i];
            if (ifd < 8 || !visited_.insert(ifd).second) continue;
            ReadIfd(ifd, 0, &queue);
        }
    }

    // Extends the end by [offset, offset + length) when it lies on the card;
    // structural runs beyond it mark the file as cut.
    void Cover(uint64_t offset, uint64_t length, bool structural) {
        if (length == 0) return;
        if (offset + length < offset || offset + length > file_.limit()) {
            if (structural) pointsPastCard = true;
            return;
        }
        end = std::max(end, offset + length);
        if (structural && runStarts.size() < kMaxRuns) runStarts.push_back(offset);
    }

    uint16_t U16(const std::vector<uint8_t>& b, uint64_t at) const { return ByteReader(b.data(), b.size()).u16(at, big_); }
    uint32_t U32(const std::vector<uint8_t>& b, uint64_t at) const { return ByteReader(b.data(), b.size()).u32(at, big_); }

    // Values of a SHORT, LONG or IFD entry (none when it has more than
    // kMaxValues); at most `most` of them are read.
    std::vector<uint64_t> Values(const Entry& e, uint64_t most = kMaxValues) {
        std::vector<uint64_t> values;
        const uint64_t size = TypeSize(e.type);
        if ((size != 2 && size != 4) || e.count == 0 || e.count > kMaxValues) return values;
        const uint64_t count = std::min<uint64_t>(e.count, most);
        std::vector<uint8_t> bytes;
        if (size * e.count <= 4) {
            bytes = file_.Read(e.at + 8, 4);
        } else {
            bytes = file_.Read(e.value, size_t(size * count));
        }
        for (uint64_t k = 0; k < count && (k + 1) * size <= bytes.size(); ++k)
            values.push_back(size == 2 ? U16(bytes, k * size) : U32(bytes, k * size));
        return values;
    }

    // Reads the IFD at ifd; offsets inside it count from base (the file's
    // TIFF header, or a maker note's own). makerDepth limits nesting.
    void ReadIfd(uint64_t ifd, int makerDepth, IfdQueue* queue, uint64_t base = 0) {
        const std::vector<uint8_t> head = file_.Read(base + ifd, 2);
        if (head.size() < 2) {
            pointsPastCard = true;
            return;
        }
        const uint16_t n = U16(head, 0);
        if (n == 0 || n > kMaxEntries) return;
        const uint64_t ifdBytes = 2 + 12ull * n + 4;
        const std::vector<uint8_t> bytes = file_.Read(base + ifd, size_t(ifdBytes));
        if (bytes.size() < ifdBytes - 4) {
            pointsPastCard = true;
            return;
        }
        Cover(base + ifd, ifdBytes, true);
        // IFD0's chain (IFD1, and CR2's further IFDs) follows the next-IFD field.
        if (makerDepth == 0 && bytes.size() >= ifdBytes)
            if (const uint32_t next = U32(bytes, ifdBytes - 4); next != 0) queue->Add(next);

        // Offsets and counts are read together, once both entries are known.
        Entry stripEntry, stripCountEntry, tileEntry, tileCountEntry;
        uint64_t jpegOffset = 0, jpegLength = 0;
        uint32_t compression = 0;
        int64_t w = 0, h = 0;
        for (uint16_t k = 0; k < n; ++k) {
            Entry e;
            const uint64_t at = 2 + 12ull * k;
            e.tag = U16(bytes, at);
            e.type = U16(bytes, at + 2);
            e.count = U32(bytes, at + 4);
            e.value = U32(bytes, at + 8);
            e.at = base + ifd + at;
            const uint64_t valueBytes = TypeSize(e.type) * e.count;
            if (valueBytes > 4) Cover(base + e.value, valueBytes, false);  // the value itself

            switch (e.tag) {
            case tag::ImageWidth: w = Scalar(e); break;
            case tag::ImageLength: h = Scalar(e); break;
            case tag::Compression: compression = Scalar(e); break;
            case tag::StripOffsets: stripEntry = e; break;
            case tag::StripByteCounts: stripCountEntry = e; break;
            case tag::TileOffsets: tileEntry = e; break;
            case tag::TileByteCounts: tileCountEntry = e; break;
            case tag::JpegOffset: jpegOffset = e.value; break;
            case tag::JpegLength: jpegLength = e.value; break;
            case tag::SubIfds:
                // Only as many as the walk could still visit are read.
                if (makerDepth == 0 && !queue->Full())
                    for (uint64_t sub : Values(e, kMaxIfds)) queue->Add(sub);
                break;
            case tag::ExifIfd:
            case tag::GpsIfd:
            case tag::InteropIfd:
                if (makerDepth == 0) queue->Add(e.value);
                break;
            case tag::Make:
            case tag::Model:
                if (makerDepth == 0 && visited_.size() == 1) {
                    std::string text = AsciiValue(e);
                    (e.tag == tag::Make ? make : model) = text;
                }
                break;
            case tag::DngVersion: dng = true; break;
            case tag::JpgFromRawRw2:
                if (makerDepth == 0 && e.type == 7 && e.count > 4) {
                    Cover(e.value, e.count, true);
                    previews.push_back(Candidate{e.value, e.count});
                    hasImageData = true;
                }
                break;
            case tag::MakerNote:
                if (makerDepth == 0 && e.count > 8) ReadMakerNote(e.value, e.count);
                break;
            default:
                break;
            }
        }
        if (jpegOffset && jpegLength) {
            Cover(base + jpegOffset, jpegLength, true);
            previews.push_back(Candidate{base + jpegOffset, jpegLength});
            hasImageData = true;
        }
        // Strips and tiles: offsets with their byte counts, both or none.
        auto runs = [&](const Entry& offsetEntry, const Entry& countEntry) {
            std::vector<Candidate> found;
            const uint64_t n = std::min(offsetEntry.count, countEntry.count);
            if (n == 0) return found;
            const std::vector<uint64_t> offsets = Values(offsetEntry, n), counts = Values(countEntry, n);
            for (size_t k = 0; k < offsets.size() && k < counts.size(); ++k) {
                Cover(base + offsets[k], counts[k], true);
                found.push_back(Candidate{base + offsets[k], counts[k]});
                hasImageData = true;
            }
            return found;
        };
        const std::vector<Candidate> strips = runs(stripEntry, stripCountEntry);
        runs(tileEntry, tileCountEntry);
        // A single JPEG-compressed strip (CR2's IFD0) may be a viewable picture.
        if ((compression == 6 || compression == 7) && strips.size() == 1) previews.push_back(strips[0]);
        if (w * h > pixels && w > 0 && h > 0 && w <= 100000 && h <= 100000) {
            pixels = w * h;
            width = int32_t(w);
            height = int32_t(h);
        }
    }

    // A single SHORT or LONG held in the value field (a SHORT takes its
    // first two bytes, which read as a big-endian u32 are the high half).
    uint32_t Scalar(const Entry& e) const {
        if (e.count != 1) return 0;
        if (e.type == 3) return big_ ? e.value >> 16 : e.value & 0xFFFF;
        return e.type == 4 ? e.value : 0;
    }

    std::string AsciiValue(const Entry& e) {
        if (e.type != 2 || e.count == 0) return "";
        const uint32_t n = std::min<uint32_t>(e.count, 64);
        std::vector<uint8_t> bytes = n <= 4 ? file_.Read(e.at + 8, n) : file_.Read(e.value, n);
        std::string text(bytes.begin(), bytes.end());
        if (auto nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return text;
    }

    // Maker notes with a preview: Nikon's ("Nikon\0", two version bytes, two
    // more, then a TIFF header of its own that its offsets count from; tag
    // 0x0011 points at a preview IFD with 0x0201/0x0202), and the plain IFD
    // of other makers whose 0x0201/0x0202 count from the file's header.
    void ReadMakerNote(uint64_t at, uint64_t length) {
        Cover(at, length, false);
        const std::vector<uint8_t> head = file_.Read(at, 18);
        if (head.size() < 18) return;
        if (std::memcmp(head.data(), "Nikon\0", 6) == 0) {
            const uint64_t base = at + 10;
            const ByteReader h(head.data(), head.size());
            const bool big = h.equals(10, "MM", 2);
            if (!big && !h.equals(10, "II", 2)) return;
            TiffWalker inner(file_, big);
            inner.visited_.insert(UINT64_MAX);  // not IFD0 of the file
            const uint64_t ifd = h.u32(14, big);
            inner.ReadMakerIfd(base, ifd, true);
            Merge(inner);
            return;
        }
        ReadMakerIfd(0, at, false);
    }

    void ReadMakerIfd(uint64_t base, uint64_t ifd, bool nikon) {
        const std::vector<uint8_t> head = file_.Read(base + ifd, 2);
        if (head.size() < 2) return;
        const uint16_t n = U16(head, 0);
        if (n == 0 || n > 512) return;
        const std::vector<uint8_t> bytes = file_.Read(base + ifd, size_t(2 + 12ull * n));
        uint64_t start = 0, length = 0;
        for (uint16_t k = 0; k < n && 2 + 12ull * (k + 1) <= bytes.size(); ++k) {
            const uint64_t p = 2 + 12ull * k;
            const uint16_t t = U16(bytes, p);
            const uint16_t type = U16(bytes, p + 2);
            if (TypeSize(type) == 0) return;  // not an IFD after all
            const uint32_t value = U32(bytes, p + 8);
            if (t == tag::NikonPreviewIfd && nikon) ReadMakerIfd(base, value, false);
            if (t == tag::PreviewStart) start = value;
            if (t == tag::PreviewLength) length = value;
        }
        if (start && length) {
            Cover(base + start, length, true);
            previews.push_back(Candidate{base + start, length});
        }
    }

    void Merge(const TiffWalker& inner) {
        end = std::max(end, inner.end);
        pointsPastCard = pointsPastCard || inner.pointsPastCard;
        previews.insert(previews.end(), inner.previews.begin(), inner.previews.end());
    }

private:
    CarvedBytes& file_;
    bool big_;
    std::set<uint64_t> visited_;
};

// Whether a JPEG's frame is one libjpeg decodes (baseline, extended or
// progressive), not the lossless kind RAW data is often stored in.
bool DecodableJpegHead(const std::vector<uint8_t>& b) {
    const ByteReader r(b.data(), b.size());
    if (r.be16(0) != 0xFFD8) return false;
    uint64_t at = 2;
    for (int n = 0; n < 64 && r.has(at, 4); ++n) {
        if (r.u8(at) != 0xFF) return false;
        const uint8_t marker = r.u8(at + 1);
        if (marker == 0xFF) {
            at += 1;
            continue;
        }
        if (marker == 0xC0 || marker == 0xC1 || marker == 0xC2) return true;
        if ((marker >= 0xC3 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) || marker == 0xDA)
            return false;
        at += 2 + r.be16(at + 2);
    }
    return false;
}

// Reads the EXIF segment of a JPEG's first bytes, if it has one.
void ParseJpegExif(const std::vector<uint8_t>& b, JpegInfo* exif) {
    const ByteReader r(b.data(), b.size());
    if (r.be16(0) != 0xFFD8) return;
    uint64_t at = 2;
    for (int n = 0; n < 32 && r.has(at, 4); ++n) {
        const uint16_t marker = r.be16(at);
        const uint16_t length = r.be16(at + 2);
        if (marker < 0xFFC0 || marker == 0xFFDA || length < 2) return;
        if (marker == 0xFFE1 && r.equals(at + 4, "Exif\0\0", 6) && r.has(at + 10, 8)) {
            const uint64_t size = std::min<uint64_t>(length - 8u, b.size() - (at + 10));
            ParseExif(b.data() + at + 10, size_t(size), exif);
            return;
        }
        at += 2 + length;
    }
}

// The largest decodable JPEG among the candidates: media's preview.
void ChoosePreview(CarvedBytes& file, std::vector<Candidate> candidates, uint64_t fileLength, MediaInfo* media) {
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& x, const Candidate& y) { return x.length > y.length; });
    for (const Candidate& c : candidates) {
        if (c.length < 128 || c.length > kMaxPreview || c.offset + c.length > fileLength) continue;
        if (!DecodableJpegHead(file.Read(c.offset, size_t(std::min<uint64_t>(c.length, kJpegHeadBytes))))) continue;
        media->previewOffset = c.offset;
        media->previewLength = uint32_t(c.length);
        return;
    }
}

MediaFormat FormatOfTiff(uint16_t magic, bool cr2Marker, bool dng, const std::string& make, const std::string& model) {
    if (magic == tiffhdr::kOrf || magic == tiffhdr::kOrfS) return FormatOrf;
    if (magic == tiffhdr::kRw2) return FormatRw2;
    if (dng) return FormatDng;
    if (cr2Marker) return FormatCr2;
    std::string m = make;
    for (char& c : m)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    auto has = [&](const char* word) { return m.find(word) != std::string::npos; };
    if (has("CANON")) return FormatCr2;
    if (has("NIKON")) return model.find("COOLPIX") != std::string::npos ? FormatNrw : FormatNef;
    if (has("SONY")) return model == "DSC-R1" ? FormatSr2 : FormatArw;
    if (has("PENTAX")) return FormatPef;
    if (has("SAMSUNG")) return FormatSrw;
    if (has("EPSON")) return FormatErf;
    if (has("HASSELBLAD")) return Format3fr;
    if (has("OLYMPUS") || has("OM DIGITAL")) return FormatOrf;
    if (has("PANASONIC") || has("LEICA")) return FormatRw2;
    return FormatTif;
}

// The file's length as its structures give it, as far as the card proves it
// (clusters of fill, a folder or another file's start were never the file's;
// the starts of its own runs may look like pictures); false when nothing of
// it is there.
bool SettleLength(SearchSession& session, uint64_t start, uint64_t end, bool cut, MediaInfo* media,
                  std::vector<uint64_t> ownStarts = {}) {
    std::sort(ownStarts.begin(), ownStarts.end());
    const uint64_t cs = session.volume->clusterSize;
    const uint64_t kept = ProvenLength(session, start, cs, end, Claim::Data, &ownStarts);
    if (kept == 0 || kept > kMaxCarvedLength) return false;
    media->length = uint32_t(kept);
    media->partlyMissing = (cut || kept < end) ? 1 : 0;
    return true;
}

uint64_t WalkRaf(SearchSession& session, CarvedBytes& file, uint64_t start, const std::vector<uint8_t>& head,
                 MediaInfo* media, JpegInfo* exif) {
    const ByteReader r(head.data(), head.size());
    uint64_t end = raf::HeaderSize;
    bool cut = false;
    Candidate jpeg;
    std::vector<uint64_t> starts;
    for (int k = 0; k < 3; ++k) {
        const uint64_t offset = r.be32(raf::JpegOffset + 8 * k), length = r.be32(raf::JpegOffset + 8 * k + 4);
        if (offset == 0 || length == 0) continue;
        if (offset < raf::HeaderSize) return 0;  // not a RAF header after all
        if (offset + length > file.limit()) {
            cut = true;
            continue;
        }
        end = std::max(end, offset + length);
        starts.push_back(offset);
        if (k == 0) jpeg = Candidate{offset, length};
    }
    if (end == raf::HeaderSize || !SettleLength(session, start, end, cut, media, std::move(starts))) return 0;
    media->format = FormatRaf;
    if (jpeg.length) {
        const std::vector<uint8_t> jpegHead = file.Read(jpeg.offset, size_t(std::min<uint64_t>(jpeg.length, kJpegHeadBytes)));
        ParseJpegExif(jpegHead, exif);
        ChoosePreview(file, {jpeg}, media->length, media);
    }
    if (exif->make.empty()) exif->make = "FUJIFILM";
    if (exif->model.empty()) {
        std::string name = r.text(raf::CameraName, 32);
        if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);
        exif->model = name;
    }
    return start + (media->length - 1) / session.volume->clusterSize;
}

}  // namespace


uint64_t WalkTiffRaw(SearchSession& session, uint64_t start, MediaInfo* media, JpegInfo* exif) {
    if (!media || !exif) return 0;
    *media = MediaInfo{};
    *exif = JpegInfo{};
    if (!session.volume || session.volume->clusterSize == 0) return 0;
    CarvedBytes file(*session.volume, start);
    if (file.limit() == 0) return 0;
    // The header is judged from the first bytes; the metadata's share of
    // the file is read only once the walk has found a file there.
    const std::vector<uint8_t> head = file.Read(0, std::min<size_t>(kHeadBytes, size_t(file.limit())));
    if (!IsRawStart(head.data(), head.size())) return 0;
    uint64_t last = 0;
    if (ByteReader(head.data(), head.size()).equals(0, raf::Magic, 16)) {
        last = WalkRaf(session, file, start, head, media, exif);
    } else {
        const ByteReader r(head.data(), head.size());
        const bool big = r.equals(0, "MM", 2);
        const uint16_t magic = r.u16(tiffhdr::Magic, big);
        TiffWalker walker(file, big);
        walker.Cover(0, 8, true);
        walker.WalkFrom(r.u32(tiffhdr::FirstIfd, big));
        if (!walker.hasImageData ||
            !SettleLength(session, start, walker.end, walker.pointsPastCard, media, std::move(walker.runStarts)))
            return 0;
        const bool cr2 = r.equals(tiffhdr::Cr2Marker, "CR", 2) && r.u8(tiffhdr::Cr2Marker + 2) == 2;
        media->format = FormatOfTiff(magic, cr2, walker.dng, walker.make, walker.model);
        media->width = walker.width;
        media->height = walker.height;
        const std::vector<uint8_t> metadata = file.Read(0, std::min<size_t>(kMetadataBytes, size_t(media->length)));
        ParseTiffMetadata(metadata.data(), metadata.size(), exif);
        if (media->format == FormatRw2 && exif->dateTime.empty()) {
            // Panasonic keeps the EXIF data in the embedded JPEG.
            for (const Candidate& c : walker.previews)
                ParseJpegExif(file.Read(c.offset, size_t(std::min<uint64_t>(c.length, kJpegHeadBytes))), exif);
        }
        ChoosePreview(file, walker.previews, media->length, media);
        last = start + (media->length - 1) / session.volume->clusterSize;
    }
    if (last != 0) media->clusterCount = uint32_t(last - start + 1);
    return last;
}

}  // namespace veld
