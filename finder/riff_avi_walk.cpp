// RIFF layout (little-endian):
//   chunk     4-character id, u32 size of the data, data, a pad byte when
//             the size is odd
//   RIFF/LIST chunk whose data begins with a 4-character form type and holds
//             chunks
// An AVI clip: RIFF "AVI " { LIST "hdrl" { avih, LIST "strl"..., LIST "odml"
// { dmlh } }, [IDIT], LIST "movi", idx1 }, then RIFF "AVIX" { LIST "movi" }
// ... for each further gigabyte.
//   avih: 0 u32 microseconds per frame, 16 u32 total frames (of the first
//         RIFF), 32 u32 width, 36 u32 height
//   dmlh: 0 u32 total frames of the whole clip
//   IDIT: the recording time as text ("Www Mmm dd hh:mm:ss yyyy" or
//         "yyyy:mm:dd hh:mm:ss")
#include "finder/riff_avi_walk.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "finder/carved_bytes.h"
#include "finder/claimed_clusters.h"
#include "finder/cluster_window.h"
#include "finder/file_starts.h"
#include "finder/media_format.h"
#include "finder/media_time.h"

namespace veld {
namespace {

constexpr uint64_t kChunkHeader = 8;   // id, u32 size
constexpr uint64_t kFormType = 8;      // after the header of RIFF and LIST
constexpr uint64_t kHeaderBytes = 64u << 10;  // the header list lies in the clip's first bytes
constexpr int kMaxRiffs = 4096;        // 4 GiB in 1 GiB pieces, with room to spare
constexpr int kMaxChunks = 512;

namespace avih {
constexpr uint64_t MicroSecPerFrame = 0;
constexpr uint64_t TotalFrames = 16;
constexpr uint64_t Width = 32;
constexpr uint64_t Height = 36;
}  // namespace avih

uint64_t Padded(uint64_t size) { return size + (size & 1); }

// Reads avih, dmlh and IDIT from the clip's first bytes.
void ReadHeader(const std::vector<uint8_t>& bytes, MediaInfo* media) {
    const ByteReader r(bytes.data(), bytes.size());
    uint32_t usPerFrame = 0, frames = 0, grandFrames = 0;
    // Chunks and lists within [from, end), descending into LIST chunks.
    struct Span {
        uint64_t from, end;
    };
    std::vector<Span> spans{{12, std::min<uint64_t>(bytes.size(), kChunkHeader + uint64_t(r.le32(4)))}};
    int seen = 0;
    while (!spans.empty() && seen < kMaxChunks) {
        Span span = spans.back();
        spans.pop_back();
        for (uint64_t at = span.from; at + kChunkHeader <= span.end && seen < kMaxChunks; ++seen) {
            const uint64_t size = r.le32(at + 4);
            const uint64_t body = at + kChunkHeader;
            if (r.equals(at, "LIST", 4)) {
                if (r.equals(body, "movi", 4)) break;  // the frames: nothing more of the header
                spans.push_back({body + 4, std::min(body + size, span.end)});
            } else if (r.equals(at, "avih", 4) && size >= 40) {
                usPerFrame = r.le32(body + avih::MicroSecPerFrame);
                frames = r.le32(body + avih::TotalFrames);
                media->width = int32_t(std::min<uint32_t>(r.le32(body + avih::Width), 100000));
                media->height = int32_t(std::min<uint32_t>(r.le32(body + avih::Height), 100000));
            } else if (r.equals(at, "dmlh", 4) && size >= 4) {
                grandFrames = r.le32(body);
            } else if (r.equals(at, "IDIT", 4) && size > 0) {
                media->created = NormalisedTimeText(r.text(body, size_t(std::min<uint64_t>(size, 64))));
            }
            at = body + Padded(size);
        }
    }
    const uint64_t total = grandFrames ? grandFrames : frames;
    media->durationMs = uint32_t(std::min<uint64_t>(total * usPerFrame / 1000, UINT32_MAX));
}

// A chunk id: four characters of letters, digits and blanks.
bool IsChunkId(const ByteReader& r, uint64_t at) {
    for (uint64_t k = 0; k < 4; ++k) {
        const uint8_t c = r.u8(at + k);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == ' ')) return false;
    }
    return r.ok();
}

// Follows the chunks of one RIFF piece in [from, riffEnd) and returns where
// the piece ends on the card: riffEnd when every chunk header is there and
// the clusters each chunk claims can hold it ("JUNK" is padding, the rest
// data); else where the first one that is not ends, with *cut set.
uint64_t WalkChunks(SearchSession& session, CarvedBytes& file, uint64_t start, uint64_t from, uint64_t riffEnd,
                    bool* cut) {
    uint64_t at = from;
    for (int n = 0; n < kMaxChunks && at < riffEnd; ++n) {
        const std::vector<uint8_t> header = file.Read(at, size_t(kChunkHeader));
        const ByteReader r(header.data(), header.size());
        if (header.size() < kChunkHeader || !IsChunkId(r, 0)) break;
        const uint64_t next = at + kChunkHeader + Padded(r.le32(4));
        const Claim claim = r.equals(0, "JUNK", 4) ? Claim::Padding : Claim::Data;
        const uint64_t proven = ProvenLength(session, start, at + kChunkHeader, std::min(next, riffEnd), claim);
        if (proven < std::min(next, riffEnd)) {
            *cut = true;
            return proven;
        }
        at = next;
    }
    if (at >= riffEnd) return riffEnd;
    *cut = true;  // the piece claims more than its chunks reach
    return at;
}

}  // namespace


uint64_t WalkRiffAvi(SearchSession& session, uint64_t start, MediaInfo* media) {
    if (!media) return 0;
    *media = MediaInfo{};
    if (!session.volume || session.volume->clusterSize == 0) return 0;
    CarvedBytes file(*session.volume, start);
    const std::vector<uint8_t> head = file.Read(0, size_t(std::min<uint64_t>(kHeaderBytes, file.limit())));
    if (!IsAviStart(head.data(), head.size())) return 0;

    // RIFF after RIFF: "AVI " first, then "AVIX" pieces, each walked through
    // its chunks: a size is taken only as far as the card proves it.
    uint64_t end = 0;
    bool cut = false;
    for (int n = 0; n < kMaxRiffs && !cut; ++n) {
        const std::vector<uint8_t> header = file.Read(end, 12);
        const ByteReader r(header.data(), header.size());
        if (!r.equals(0, "RIFF", 4) || !r.equals(kFormType, n == 0 ? "AVI " : "AVIX", 4)) break;
        const uint64_t riffEnd = end + kChunkHeader + Padded(r.le32(4));
        end = WalkChunks(session, file, start, end + 12, riffEnd, &cut);
    }
    const uint64_t kept = LengthBeforeLiveCluster(session, start, end);
    if (kept == 0 || kept > kMaxCarvedLength) return 0;
    media->format = FormatAvi;
    media->length = uint32_t(kept);
    media->partlyMissing = (cut || kept < end) ? 1 : 0;
    ReadHeader(head, media);
    const uint64_t last = start + (kept - 1) / session.volume->clusterSize;
    media->clusterCount = uint32_t(last - start + 1);
    return last;
}

}  // namespace veld
