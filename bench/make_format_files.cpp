// Writes the files of the format benchmark and its exFAT cards.
//
//   make_format_files FILES FOLDER
//     RAW files of every maker's layout (CR2, NEF, NRW, ARW, SR2, DNG, ORF,
//     RW2, PEF, SRW, ERF, 3FR), a RAF and a CR3, each with a 1024 x 683 JPEG
//     preview and about 1.4 MB of sensor data, and JPEG photographs with EXIF.
//   make_format_files EXFAT IMAGE SIZE_MIB DELETE_EVERY FILE...
//     An exFAT card (mkfs.exfat, filled by our builder) holding the files in
//     DCIM/100VELD; every DELETE_EVERY-th of them deleted (0: none).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/exfat_image_builder.h"
#include "support/test_jpeg.h"
#include "support/test_media.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

void Save(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) {
        std::fprintf(stderr, "make_format_files: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

Bytes Load(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

int Files(const fs::path& folder) {
    using veld::test::RawPreview;
    using veld::test::TestRaw;
    fs::create_directories(folder);
    auto raw = [](TestRaw r) {
        r.previewWidth = 1024;
        r.previewHeight = 683;
        r.rawWidth = 1024;
        r.rawHeight = 683;
        return veld::test::MakeTestRaw(r);
    };
    Save(folder / "IMG_0001.CR2", raw({.cr2Marker = true, .preview = RawPreview::Ifd0Strip}));
    Save(folder / "DSC_0002.NEF", raw({.bigEndian = true, .make = "NIKON CORPORATION", .model = "NIKON D850",
                                       .orientation = 6, .preview = RawPreview::NikonMakerNote}));
    Save(folder / "DSCN0003.NRW", raw({.make = "NIKON", .model = "COOLPIX P7800"}));
    Save(folder / "DSC00004.ARW", raw({.make = "SONY", .model = "ILCE-7M3"}));
    Save(folder / "DSC00005.SR2", raw({.make = "SONY", .model = "DSC-R1"}));
    Save(folder / "IMG_0006.DNG", raw({.dng = true, .make = "Apple", .model = "iPhone 12 Pro"}));
    Save(folder / "P0000007.ORF", raw({.magic = 0x4F52, .make = "OLYMPUS CORPORATION", .model = "E-M1MarkII",
                                       .preview = RawPreview::MakerNote}));
    Save(folder / "P1000008.RW2", raw({.magic = 0x55, .make = "Panasonic", .model = "DC-GH5",
                                       .preview = RawPreview::Rw2JpgFromRaw}));
    Save(folder / "IMGP0009.PEF", raw({.bigEndian = true, .make = "PENTAX", .model = "PENTAX K-1",
                                       .preview = RawPreview::MakerNote}));
    Save(folder / "SAM_0010.SRW", raw({.make = "SAMSUNG", .model = "NX1", .rawInTiles = true}));
    Save(folder / "EPSN0011.ERF", raw({.make = "SEIKO EPSON CORP.", .model = "R-D1"}));
    Save(folder / "B0000012.3FR", raw({.make = "Hasselblad", .model = "CFV-50"}));
    Save(folder / "DSCF0013.RAF", veld::test::MakeTestRaf("X-T3", "2024:05:06 07:08:09", 1400000));
    Save(folder / "IMG_0014.CR3", veld::test::MakeTestCr3({.mdatBytes = 1400000}));
    for (int k = 0; k < 3; ++k) {
        veld::test::TestExif exif;
        exif.make = "Veld Optical";
        exif.model = "VX-200";
        exif.dateTime = "2024:07:05 11:16:1" + std::to_string(k);
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", 20 + k);
        Save(folder / name, veld::test::MakeTestJpeg(1600, 1200, &exif));
    }
    return 0;
}

int ExfatCard(const std::string& image, uint64_t mib, int deleteEvery, const std::vector<std::string>& files) {
    veld::test::ExfatImageBuilder card(image, {.sizeBytes = mib << 20, .clusterSize = 32 * 1024});
    if (!card.error().empty()) {
        std::fprintf(stderr, "make_format_files: %s\n", card.error().c_str());
        return 1;
    }
    auto dcim = card.AddDir(card.Root(), "DCIM");
    auto folder = card.AddDir(dcim, "100VELD");
    // All files are written first, then some deleted, as on a camera: a
    // file deleted at once would give its clusters to the next one.
    std::vector<veld::test::ExfatImageBuilder::Node> nodes;
    for (const std::string& file : files) nodes.push_back(card.AddFile(folder, fs::path(file).filename().string(), Load(file)));
    for (size_t n = 1; deleteEvery > 0 && n <= nodes.size(); ++n)
        if (n % size_t(deleteEvery) == 0) card.Delete(nodes[n - 1]);
    const std::string problem = card.Finish();
    if (!problem.empty()) {
        std::fprintf(stderr, "make_format_files: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "FILES" && argc == 3) return Files(argv[2]);
    if (mode == "EXFAT" && argc >= 5)
        return ExfatCard(argv[2], std::strtoull(argv[3], nullptr, 10), std::atoi(argv[4]),
                         std::vector<std::string>(argv + 5, argv + argc));
    std::fprintf(stderr, "usage: make_format_files FILES FOLDER | EXFAT IMAGE SIZE_MIB DELETE_EVERY FILE...\n");
    return 2;
}
