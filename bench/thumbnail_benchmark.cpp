// Time to make a 64 x 64 thumbnail of a JPEG: decoding the whole picture and
// reducing it, beside letting libjpeg reduce it while decoding (scaled
// inverse DCT). Runs over the pictures in a folder (if given) and over
// generated camera-sized pictures (24 megapixels, 4:2:0 and 4:2:2), and
// prints how far apart the two thumbnails' pixels are on average.
//
//   thumbnail_benchmark [PHOTO_FOLDER] [REPEATS]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <random>
#include <string>
#include <vector>

#include "base/bitmap_utils.h"
#include "base/jpeg_memory_decode.h"

namespace fs = std::filesystem;

namespace {

// A noisy gradient, compressed like a camera does (quality 92).
std::vector<uint8_t> CameraLikeJpeg(int width, int height, int vSample) {
    std::mt19937 rng(7);
    std::vector<uint8_t> row(size_t(width) * 3);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 92, TRUE);
    cinfo.comp_info[0].v_samp_factor = vSample;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) row[size_t(x) * 3 + size_t(c)] = uint8_t((x * (c + 1) + y) / 24 + (rng() & 31));
        JSAMPROW p = row.data();
        jpeg_write_scanlines(&cinfo, &p, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(out, out + outSize);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return jpeg;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Totals {
    double full = 0, scaled = 0;
    int pictures = 0;
    double gap = 0;  // mean absolute difference of the samples, summed over the pictures
};

void Measure(const std::vector<uint8_t>& jpeg, int repeats, Totals* totals) {
    veld::DibPtr a, b;
    auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < repeats; ++r) {
        veld::DibPtr full = veld::JpegMemoryDecode(jpeg.data(), jpeg.size());
        a = full ? veld::ScaleBitmap(*full, 64, 64, true) : nullptr;
    }
    totals->full += Seconds(t0) / repeats;
    t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < repeats; ++r) b = veld::JpegScaledDecode(jpeg.data(), jpeg.size(), 64, 64, true);
    totals->scaled += Seconds(t0) / repeats;
    ++totals->pictures;
    if ((a == nullptr) != (b == nullptr) || (a && a->bits.size() != b->bits.size())) {
        totals->gap += 255;
        return;
    }
    double sum = 0;
    for (size_t i = 0; a && i < a->bits.size(); ++i) sum += std::abs(int(a->bits[i]) - int(b->bits[i]));
    if (a && !a->bits.empty()) totals->gap += sum / double(a->bits.size());
}

void Print(const char* what, const Totals& t) {
    if (t.pictures == 0) return;
    std::printf("%-34s %4d pictures  full %8.2f ms  scaled %8.2f ms  speed-up %.2fx  mean sample gap %.1f\n", what,
                t.pictures, t.full * 1000 / t.pictures, t.scaled * 1000 / t.pictures,
                t.scaled > 0 ? t.full / t.scaled : 0.0, t.gap / t.pictures);
}

}  // namespace

int main(int argc, char** argv) {
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    if (argc > 1 && fs::is_directory(argv[1])) {
        Totals photos;
        for (const auto& e : fs::recursive_directory_iterator(argv[1])) {
            if (e.path().extension() != ".jpg" && e.path().extension() != ".JPG") continue;
            std::ifstream in(e.path(), std::ios::binary);
            std::vector<uint8_t> jpeg{std::istreambuf_iterator<char>(in), {}};
            Measure(jpeg, repeats * 5, &photos);
        }
        Print("sample photos (per picture)", photos);
    }
    for (int vSample : {2, 1}) {
        Totals big;
        const auto jpeg = CameraLikeJpeg(6000, 4000, vSample);
        Measure(jpeg, repeats, &big);
        char what[64];
        std::snprintf(what, sizeof what, "6000x4000 %s (%.1f MB)", vSample == 2 ? "4:2:0" : "4:2:2", jpeg.size() / 1e6);
        Print(what, big);
    }
    return 0;
}
