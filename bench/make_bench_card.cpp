// Writes a large camera-like FAT32 card image for the search benchmark:
// folders DCIM/1xxVELD full of multi-megabyte JPEGs with EXIF, a few clips,
// and a share of both deleted. Made with mkfs.fat and mtools like a real card.
//
//   make_bench_card IMAGE [SIZE_MIB]   (default 2304 MiB)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <cstdio>
#include <jpeglib.h>

#include "support/test_jpeg.h"

namespace fs = std::filesystem;

namespace {

// A noisy picture so it compresses like a real photograph (a few MB).
std::vector<uint8_t> NoisyJpeg(int width, int height, uint32_t seed, const std::vector<uint8_t>& exifSegment) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t((i / 3 % width) / 8 + (rng() & 63));
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = rgb.data() + size_t(cinfo.next_scanline) * width * 3;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(out, out + outSize);
    free(out);
    jpeg_destroy_compress(&cinfo);
    // EXIF goes right after the start-of-image marker, as cameras write it.
    jpeg.insert(jpeg.begin() + 2, exifSegment.begin(), exifSegment.end());
    return jpeg;
}

int Run(const std::string& command) {
    int rc = std::system(command.c_str());
    if (rc != 0) std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    return rc;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_bench_card IMAGE [SIZE_MIB]\n");
        return 2;
    }
    const std::string image = argv[1];
    const long sizeMiB = argc > 2 ? std::atol(argv[2]) : 2304;
    const fs::path work = fs::temp_directory_path() / ("veld-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);

    fs::remove(image);
    if (Run("mkfs.fat -F 32 -s 64 -n VELDBENCH -C '" + image + "' " + std::to_string(sizeMiB * 1024) + " >/dev/null"))
        return 1;

    // Distinct pictures, each copied many times under new names.
    const int distinct = 16;
    std::vector<fs::path> pictures;
    for (int i = 0; i < distinct; ++i) {
        veld::test::TestExif exif;
        exif.make = "Veld";
        exif.model = "Bench Camera " + std::to_string(i);
        exif.dateTime = "2026:08:" + std::to_string(10 + i) + " 12:00:00";
        exif.pixelX = 2048;
        exif.pixelY = 1536;
        exif.hasGps = (i % 3 == 0);
        auto jpeg = NoisyJpeg(2048, 1536, uint32_t(i + 1), veld::test::MakeExifSegment(exif));
        pictures.push_back(work / ("p" + std::to_string(i) + ".jpg"));
        WriteFile(pictures.back(), jpeg);
    }
    const uintmax_t pictureBytes = fs::file_size(pictures[0]);
    const long perFolder = 200;
    const long totalPictures = long((uint64_t(sizeMiB) << 20) * 9 / 10 / pictureBytes);
    std::fprintf(stderr, "%ld pictures of about %ju bytes\n", totalPictures, pictureBytes);

    Run("mmd -i '" + image + "' ::/DCIM");
    long made = 0;
    for (int folder = 100; made < totalPictures; ++folder) {
        std::string dir = "::/DCIM/" + std::to_string(folder) + "VELD";
        Run("mmd -i '" + image + "' " + dir);
        std::string command = "mcopy -i '" + image + "'";
        std::vector<std::string> names;
        for (long k = 0; k < perFolder && made < totalPictures; ++k, ++made) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04ld.JPG", made + 1);
            fs::path link = work / name;
            fs::copy_file(pictures[size_t(made % distinct)], link, fs::copy_options::overwrite_existing);
            command += " '" + link.string() + "'";
            names.push_back(name);
        }
        if (Run(command + " " + dir + "/")) return 1;
        for (const auto& n : names) fs::remove(work / n);
        // A quarter of every folder is deleted, as if the user had pruned it.
        std::string del = "mdel -i '" + image + "'";
        for (size_t k = 0; k < names.size(); k += 4) del += " " + dir + "/" + names[k];
        Run(del);
    }

    Run("mmd -i '" + image + "' ::/DCIM/CLIPS");
    for (int i = 0; i < 4; ++i) {
        veld::test::TestMp4 options;
        options.seed = uint32_t(i + 7);
        fs::path clip = work / ("MOV_" + std::to_string(i) + ".MP4");
        WriteFile(clip, veld::test::MakeTestMp4(24u << 20, options));
        Run("mcopy -i '" + image + "' '" + clip.string() + "' ::/DCIM/CLIPS/");
    }
    Run("mdel -i '" + image + "' ::/DCIM/CLIPS/MOV_1.MP4 ::/DCIM/CLIPS/MOV_3.MP4");
    fs::remove_all(work);
    std::printf("%s\n", image.c_str());
    return 0;
}
