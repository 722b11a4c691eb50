// Files of the formats beyond JPEG, built in code with honest structures for
// planting on test cards: TIFF-based RAW files (IFD chains, an EXIF and a GPS
// IFD, strips, a JPEG preview where each maker keeps one, a maker note),
// Fujifilm RAF, a HEIF picture's boxes (items located by "iloc", an EXIF
// item) and AVI clips with OpenDML pieces. exiftool reads the RAW files as
// the formats they claim to be (checked by a test).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_jpeg.h"

namespace veld::test {

using MediaBytes = std::vector<uint8_t>;

// Where a RAW keeps its embedded JPEG picture.
enum class RawPreview {
    Ifd1Jpeg,       // IFD1's JPEGInterchangeFormat (513/514): NEF, ARW, PEF, SRW, ...
    Ifd0Strip,      // IFD0's single JPEG strip: CR2
    MakerNote,      // a maker note IFD with 0x0201/0x0202 counted from the file's start
    NikonMakerNote, // "Nikon\0" maker note with its own TIFF header and a preview IFD
    Rw2JpgFromRaw,  // Panasonic's tag 46 holding the JPEG itself
};

struct TestRaw {
    bool bigEndian = false;
    uint16_t magic = 42;            // 0x4F52 Olympus "RO", 0x55 Panasonic
    bool cr2Marker = false;         // "CR" 2 0 at byte 8, the raw IFD's offset at 12
    bool dng = false;               // DNGVersion in IFD0
    std::string make = "Canon";
    std::string model = "Canon EOS 5D Mark IV";
    std::string dateTime = "2024:05:06 07:08:09";
    uint16_t orientation = 1;
    bool hasGps = true;
    RawPreview preview = RawPreview::Ifd1Jpeg;
    int previewWidth = 160, previewHeight = 120;
    uint32_t rawWidth = 64, rawHeight = 48;   // 16-bit samples, in two strips after everything else
    bool rawInTiles = false;                   // one tile per half instead of strips
};
MediaBytes MakeTestRaw(const TestRaw& raw);
// Byte offset and length of the embedded JPEG the builder wrote last.
struct PlacedRun {
    size_t offset = 0, length = 0;
};
PlacedRun LastRawPreview();

// A RAF: its header, an embedded JPEG with EXIF (make FUJIFILM, the model,
// the date), a CFA header and CFA data.
MediaBytes MakeTestRaf(const std::string& model, const std::string& dateTime, size_t cfaBytes = 40000);

// A HEIF picture's boxes: ftyp (major brand), meta (hdlr pict, pitm, iinf with
// an "hvc1" item and an "Exif" item, iloc, iprp with ispe), mdat holding both
// items' bytes (the picture's are not decodable HEVC). With mdatSizeZero the
// last box says "to the end of the file"; itemsPastEnd makes the picture's
// item reach pastEndBytes beyond the mdat.
// A grid primary: a "grid" item of the output size put together from one
// "hvc1" tile item referenced tileReferences times; its 8-byte header in
// "idat" or in the mdat.
struct TestHeifGrid {
    uint32_t outputWidth = 0, outputHeight = 0;
    uint32_t tileWidth = 512, tileHeight = 512;
    uint16_t tileReferences = 0;
    bool inIdat = true;
};
struct TestHeif {
    std::string majorBrand = "heic";
    std::vector<std::string> compatibleBrands{"mif1", "heic"};
    uint32_t width = 4032, height = 3024;
    TestExif exif;
    size_t pictureBytes = 30000;
    bool mdatSizeZero = false;
    bool itemsPastEnd = false;
    uint32_t pastEndBytes = 4096;   // how far beyond, with itemsPastEnd
    TestHeifGrid grid;              // used when tileReferences > 0; width/height are then the grid's "ispe"
};
MediaBytes MakeTestHeif(const TestHeif& heif);

// A Canon CR3: ftyp "crx ", moov (mvhd, Canon's box with CMT1 = IFD0 with
// make, model and orientation, CMT2 = EXIF IFD with the date, CMT4 = GPS),
// the preview box ("uuid" with PRVW and a JPEG), mdat.
struct TestCr3 {
    std::string model = "Canon EOS R5";
    std::string dateTime = "2023:11:12 13:14:15";
    uint16_t orientation = 1;
    size_t mdatBytes = 20000;
};
MediaBytes MakeTestCr3(const TestCr3& cr3);
// The embedded JPEG MakeTestCr3 wrote last.
PlacedRun LastCr3Preview();

// An AVI clip: RIFF "AVI " with hdrl (avih with the frame size, frame count
// and rate; odml/dmlh with the whole clip's frame count; IDIT), movi with
// frames of frameBytes each, idx1; then extraPieces RIFF "AVIX" pieces of
// framesPerPiece frames each.
struct TestAvi {
    uint32_t width = 320, height = 240;
    uint32_t framesPerPiece = 10;
    size_t frameBytes = 3000;
    int extraPieces = 0;
    std::string recorded = "THU OCT 05 12:34:56 2023";
};
MediaBytes MakeTestAvi(const TestAvi& avi);

// An MPEG transport stream in 192-byte packets: a program association table
// first, then packets carrying a program clock reference every tenth packet,
// 40 ms apart.
MediaBytes MakeTestTs(size_t packets);
// An MPEG-2 program stream: packs of one 2 KiB packet each, a video sequence
// header of width x height in the first, 40 ms between packs, and with
// endCode the program end code last.
MediaBytes MakeTestPs(size_t packs, bool endCode, uint16_t width = 352, uint16_t height = 288);

}  // namespace veld::test
