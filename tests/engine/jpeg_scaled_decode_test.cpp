// The thumbnail decoder that lets libjpeg reduce the picture while decoding
// must give the picture a full decode followed by the reduction gives (the
// same size and placement, colours within the difference between a block's
// mean and one of its pixels), fail exactly where that fails, and find the
// data corrupt exactly where the full decode does: on camera pictures, on
// pictures of odd sizes in every chroma subsampling, progressive, grey and
// CMYK ones, and on all of them cut short or damaged.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <jpeglib.h>
#include <random>
#include <string>
#include <vector>

#include "base/bitmap_utils.h"
#include "base/jpeg_memory_decode.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

struct Encoding {
    int width = 0, height = 0;
    int components = 3;       // 1 grey, 3 colour, 4 CMYK
    int hSample = 2, vSample = 2;  // luma sampling factors (chroma stays 1 x 1)
    bool progressive = false;
    bool ycck = false;        // four components stored as YCCK instead of plain CMYK
    int restartRows = 0;
};

// A picture with smooth gradients and noise, so every row differs and the
// upsampler's neighbours matter.
std::vector<uint8_t> Encode(const Encoding& e) {
    std::mt19937 rng(uint32_t(e.width * 131 + e.height));
    std::vector<uint8_t> samples(size_t(e.width) * size_t(e.height) * size_t(e.components));
    for (int y = 0; y < e.height; ++y)
        for (int x = 0; x < e.width; ++x)
            for (int c = 0; c < e.components; ++c)
                samples[(size_t(y) * size_t(e.width) + size_t(x)) * size_t(e.components) + size_t(c)] =
                    uint8_t((x * (c + 1) * 3 + y * (5 - c)) / 4 + (rng() & 31));

    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(e.width);
    cinfo.image_height = JDIMENSION(e.height);
    cinfo.input_components = e.components;
    cinfo.in_color_space = e.components == 1 ? JCS_GRAYSCALE : e.components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (e.components == 4) jpeg_set_colorspace(&cinfo, e.ycck ? JCS_YCCK : JCS_CMYK);
    jpeg_set_quality(&cinfo, 85, TRUE);
    if (e.components > 1) {
        cinfo.comp_info[0].h_samp_factor = e.hSample;
        cinfo.comp_info[0].v_samp_factor = e.vSample;
        for (int c = 1; c < cinfo.num_components; ++c) cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
        if (e.components == 4 && !e.ycck)  // plain CMYK: the key channel sampled like the first
            cinfo.comp_info[3].h_samp_factor = e.hSample, cinfo.comp_info[3].v_samp_factor = e.vSample;
    }
    cinfo.restart_in_rows = e.restartRows;
    if (e.progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = samples.data() + size_t(cinfo.next_scanline) * size_t(e.width) * size_t(e.components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> jpeg(out, out + outSize);
    std::free(out);
    jpeg_destroy_compress(&cinfo);
    return jpeg;
}

// Full decode then reduction, against the scaling decoder, on an exact-size
// copy (so AddressSanitizer sees a read past the end).
void ExpectSameThumbnail(const uint8_t* data, size_t size, const std::string& what, int width = 64,
                         int height = 64, bool keepAspect = true) {
    std::vector<uint8_t> copy(data, data + size);
    JpegDecodeReport fullReport, scaledReport;
    DibPtr full = JpegMemoryDecode(copy.data(), copy.size(), &fullReport);
    DibPtr want = full ? ScaleBitmap(*full, width, height, keepAspect) : nullptr;
    DibPtr got = JpegScaledDecode(copy.data(), copy.size(), width, height, keepAspect, &scaledReport);
    ASSERT_EQ(want == nullptr, got == nullptr) << what;
    EXPECT_EQ(fullReport.corrupt, scaledReport.corrupt) << what;
    if (!want) return;
    ASSERT_EQ(got->width, want->width) << what;
    ASSERT_EQ(got->height, want->height) << what;
    // A block's mean against the one pixel a reduction picks: the test
    // pictures carry up to 31 levels of noise, camera pictures fine detail.
    // Damage turns blocks into stripes of other colours: there only the
    // size and the verdict are compared.
    if (fullReport.corrupt) return;
    double total = 0;
    for (int y = 0; y < want->height; ++y)
        for (int i = 0; i < want->width * 3; ++i) total += std::abs(int(want->row(y)[i]) - int(got->row(y)[i]));
    EXPECT_LE(total / (double(want->width) * want->height * 3), 24.0) << what;
}

// The whole picture, then cut at several places (inside the header, early,
// half way, just before the end marker) and with damaged bytes in the middle.
void ExpectSameWhenCutOrDamaged(const std::vector<uint8_t>& jpeg, const std::string& what) {
    ExpectSameThumbnail(jpeg.data(), jpeg.size(), what);
    for (double part : {0.02, 0.2, 0.5, 0.77, 0.97})
        ExpectSameThumbnail(jpeg.data(), size_t(double(jpeg.size()) * part), what + " cut at " + std::to_string(part));
    ExpectSameThumbnail(jpeg.data(), jpeg.size() - 2, what + " without end marker");
    std::vector<uint8_t> damaged = jpeg;
    std::mt19937 rng(uint32_t(jpeg.size()));
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 40 && i < damaged.size(); ++i) damaged[i] = uint8_t(rng());
    ExpectSameThumbnail(damaged.data(), damaged.size(), what + " damaged");
}

TEST(JpegScaledDecode, CameraPhotosWholeCutAndDamaged) {
    const fs::path photos = VELD_SHARED_PHOTOS;
    if (!fs::is_directory(photos)) GTEST_SKIP() << "no sample photographs here";
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(photos)) {
        if (entry.path().extension() != ".jpg") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> jpeg{std::istreambuf_iterator<char>(in), {}};
        ExpectSameWhenCutOrDamaged(jpeg, entry.path().filename().string());
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(JpegScaledDecode, OddSizesEverySubsamplingProgressiveGreyAndCmyk) {
    const std::pair<int, int> sizes[] = {{1, 1}, {17, 9}, {63, 47}, {333, 221}, {65, 1000}, {1000, 7}};
    const std::pair<int, int> sampling[] = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {4, 1}};
    for (auto [w, h] : sizes)
        for (auto [hs, vs] : sampling)
            for (bool progressive : {false, true}) {
                Encoding e{.width = w, .height = h, .hSample = hs, .vSample = vs, .progressive = progressive};
                ExpectSameWhenCutOrDamaged(Encode(e), std::to_string(w) + "x" + std::to_string(h) + " h" +
                                                          std::to_string(hs) + "v" + std::to_string(vs) +
                                                          (progressive ? " progressive" : ""));
            }
    for (bool progressive : {false, true}) {
        ExpectSameWhenCutOrDamaged(Encode({.width = 301, .height = 203, .components = 1, .progressive = progressive}),
                                   "grey");
        ExpectSameWhenCutOrDamaged(Encode({.width = 301, .height = 203, .components = 4, .progressive = progressive}),
                                   "CMYK");
        ExpectSameWhenCutOrDamaged(
            Encode({.width = 301, .height = 203, .components = 4, .progressive = progressive, .ycck = true}), "YCCK");
    }
    ExpectSameWhenCutOrDamaged(Encode({.width = 500, .height = 377, .restartRows = 2}), "restart markers");
}

TEST(JpegScaledDecode, OtherTargetsEnlargingAndStretching) {
    const auto jpeg = Encode({.width = 333, .height = 221});
    const auto tiny = Encode({.width = 17, .height = 9});
    for (const auto* picture : {&jpeg, &tiny})
        for (auto [w, h, keep] : {std::tuple{64, 64, true}, {200, 150, true}, {90, 30, false}, {1, 1, true}, {500, 7, false}})
            ExpectSameThumbnail(picture->data(), picture->size(),
                                std::to_string(w) + "x" + std::to_string(h) + (keep ? " fitted" : " stretched"), w, h,
                                keep);
    EXPECT_EQ(JpegScaledDecode(jpeg.data(), jpeg.size(), 0, 64, true), nullptr);
    EXPECT_EQ(JpegScaledDecode(nullptr, 0, 64, 64, true), nullptr);
}

}  // namespace
}  // namespace veld
