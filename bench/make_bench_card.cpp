// Writes large camera-like card images for the search benchmarks.
//
//   make_bench_card IMAGE [SIZE_MIB]
//     FAT32, 32 KiB clusters (default 2304 MiB): folders DCIM/1xxVELD full of
//     2 MB JPEGs with EXIF, a few clips, a quarter of both deleted.
//   make_bench_card --small-photos IMAGE [SIZE_MIB]
//     FAT32, 32 KiB clusters (default 3776 MiB, a 4 GB card): thousands of
//     photos of 100 KB to 1.5 MB and a few clips, a third of them deleted.
//   make_bench_card --raw IMAGE SIZE_GIB
//     A sparse file without any file system, with a run of 2 MB photos 1 GiB
//     from its start and another 1 GiB before its end.
//
// The cards are made with mkfs.fat and mtools like real ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

#include "support/test_jpeg.h"

namespace fs = std::filesystem;

namespace {

// A noisy picture so it compresses like a real photograph.
std::vector<uint8_t> NoisyJpeg(int width, int height, uint32_t seed, const std::vector<uint8_t>& exifSegment,
                               int quality = 92) {
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
    jpeg_set_quality(&cinfo, quality, TRUE);
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

std::vector<uint8_t> CameraPicture(int index, int width, int height, int quality) {
    veld::test::TestExif exif;
    exif.make = "Veld";
    exif.model = "Bench Camera " + std::to_string(index);
    exif.dateTime = "2026:08:" + std::to_string(10 + index % 20) + " 12:00:00";
    exif.pixelX = uint32_t(width);
    exif.pixelY = uint32_t(height);
    exif.hasGps = (index % 3 == 0);
    return NoisyJpeg(width, height, uint32_t(index + 1), veld::test::MakeExifSegment(exif), quality);
}

// A FAT32 card with 32 KiB clusters: copies of the pictures (one in
// deleteEvery deleted in every folder), then four clips of clipMiB each, two
// of them deleted.
int MakeCard(const std::string& image, long sizeMiB, const std::vector<std::vector<uint8_t>>& distinct,
             long totalPictures, long deleteEvery, uint32_t clipMiB) {
    const fs::path work = fs::temp_directory_path() / ("veld-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    setenv("MTOOLS_SKIP_CHECK", "1", 1);

    fs::remove(image);
    // 32 KiB clusters as cameras format their cards, smaller ones on a small
    // card so that it still has the clusters FAT32 needs (at least 65,525).
    int sectorsPerCluster = 64;
    while (sectorsPerCluster > 1 && sizeMiB * 2048 / sectorsPerCluster < 66000) sectorsPerCluster /= 2;
    if (Run("mkfs.fat -F 32 -s " + std::to_string(sectorsPerCluster) + " -n VELDBENCH -C '" + image + "' " +
            std::to_string(sizeMiB * 1024) + " >/dev/null"))
        return 1;

    std::vector<fs::path> pictures;
    for (size_t i = 0; i < distinct.size(); ++i) {
        pictures.push_back(work / ("p" + std::to_string(i) + ".jpg"));
        WriteFile(pictures.back(), distinct[i]);
    }

    const long perFolder = 200;
    if (Run("mmd -i '" + image + "' ::/DCIM")) return 1;
    long made = 0;
    for (int folder = 100; made < totalPictures; ++folder) {
        std::string dir = "::/DCIM/" + std::to_string(folder) + "VELD";
        if (Run("mmd -i '" + image + "' " + dir)) return 1;
        std::string command = "mcopy -i '" + image + "'";
        std::vector<std::string> names;
        for (long k = 0; k < perFolder && made < totalPictures; ++k, ++made) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04ld.JPG", made % 10000 + 1);
            fs::path link = work / name;
            fs::copy_file(pictures[size_t(made) % pictures.size()], link, fs::copy_options::overwrite_existing);
            command += " '" + link.string() + "'";
            names.push_back(name);
        }
        if (Run(command + " " + dir + "/")) return 1;
        for (const auto& n : names) fs::remove(work / n);
        // Part of every folder is deleted, as if the user had pruned it.
        std::string del = "mdel -i '" + image + "'";
        for (size_t k = 0; k < names.size(); k += size_t(deleteEvery)) del += " " + dir + "/" + names[k];
        Run(del);
    }

    Run("mmd -i '" + image + "' ::/DCIM/CLIPS");
    for (int i = 0; i < 4; ++i) {
        veld::test::TestMp4 options;
        options.seed = uint32_t(i + 7);
        fs::path clip = work / ("MOV_" + std::to_string(i) + ".MP4");
        WriteFile(clip, veld::test::MakeTestMp4(size_t(clipMiB) << 20, options));
        Run("mcopy -i '" + image + "' '" + clip.string() + "' ::/DCIM/CLIPS/");
    }
    Run("mdel -i '" + image + "' ::/DCIM/CLIPS/MOV_1.MP4 ::/DCIM/CLIPS/MOV_3.MP4");
    fs::remove_all(work);
    std::printf("%s\n", image.c_str());
    return 0;
}

// A sparse source of sizeGiB without a boot sector: the photos lie in a run
// 1 GiB from the start and in another 1 GiB before the end.
int MakeRaw(const std::string& image, long sizeGiB) {
    if (sizeGiB < 3) {
        std::fprintf(stderr, "a raw source needs at least 3 GiB\n");
        return 2;
    }
    std::vector<std::vector<uint8_t>> photos;
    for (int i = 0; i < 8; ++i) photos.push_back(CameraPicture(i, 2048, 1536, 92));
    const int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::ftruncate(fd, off_t(sizeGiB) << 30) != 0) {
        std::perror(image.c_str());
        return 1;
    }
    for (const off_t start : {off_t(1) << 30, (off_t(sizeGiB) - 1) << 30}) {
        off_t at = start;
        for (const auto& photo : photos) {
            if (::pwrite(fd, photo.data(), photo.size(), at) != ssize_t(photo.size())) {
                std::perror(image.c_str());
                return 1;
            }
            std::printf("photo at byte %lld (sector %lld), %zu bytes\n", (long long)at, (long long)(at / 512),
                        photo.size());
            at += off_t((photo.size() + 4095) / 4096 * 4096);
        }
    }
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string mode;
    if (!args.empty() && args[0].rfind("--", 0) == 0) {
        mode = args[0];
        args.erase(args.begin());
    }
    if (args.empty() || (mode != "" && mode != "--small-photos" && mode != "--raw") ||
        (mode == "--raw" && args.size() < 2)) {
        std::fprintf(stderr,
                     "usage: make_bench_card IMAGE [SIZE_MIB]\n"
                     "       make_bench_card --small-photos IMAGE [SIZE_MIB]\n"
                     "       make_bench_card --raw IMAGE SIZE_GIB\n");
        return 2;
    }
    const std::string image = args[0];
    if (mode == "--raw") return MakeRaw(image, std::atol(args[1].c_str()));

    std::vector<std::vector<uint8_t>> distinct;
    const bool small = mode == "--small-photos";
    const long sizeMiB = args.size() > 1 ? std::atol(args[1].c_str()) : small ? 3776 : 2304;
    const uint64_t room = (uint64_t(sizeMiB) << 20) * 9 / 10;  // nine tenths of the card
    if (small) {
        // Pictures like those of older and smaller cameras: 0.3 to 3 megapixels.
        const int sizes[][2] = {{640, 480}, {1024, 768}, {1280, 960}, {1600, 1200}, {2048, 1536}, {800, 600}};
        uint64_t bytes = 0;
        for (int i = 0; i < 24; ++i) {
            distinct.push_back(CameraPicture(i, sizes[i % 6][0], sizes[i % 6][1], 70 + (i * 7) % 25));
            bytes += distinct.back().size();
        }
        const uint64_t clips = 4ull * 16 << 20, mean = bytes / distinct.size();
        const long total = long((room - std::min(room, clips)) / mean);
        std::fprintf(stderr, "%ld pictures of about %ju bytes\n", total, uintmax_t(mean));
        return MakeCard(image, sizeMiB, distinct, total, 3, 16);
    }
    for (int i = 0; i < 16; ++i) distinct.push_back(CameraPicture(i, 2048, 1536, 92));
    const long total = long(room / distinct[0].size());
    std::fprintf(stderr, "%ld pictures of about %zu bytes\n", total, distinct[0].size());
    return MakeCard(image, sizeMiB, distinct, total, 4, 24);
}
