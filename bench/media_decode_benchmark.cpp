// Times one decode of a found HEIF picture or clip as the window makes it:
// "grid" is its thumbnail (the thumbnail workers' decode of the file's bytes),
// "preview" the whole picture the preview shows. The file is read whole (the
// window reads at most a clip's first and last 4 MiB for the grid; the files
// measured here are smaller). Prints the seconds and the decoded size, or
// "none" when nothing was decoded; peak memory is for /usr/bin/time.
//
//   media_decode_benchmark grid|preview FILE
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "finder/found_file_thumbnail.h"
#include "finder/media_format.h"

using namespace veld;

int main(int argc, char** argv) {
    const std::string how = argc == 3 ? argv[1] : "";
    if (how != "grid" && how != "preview") {
        std::fprintf(stderr, "usage: media_decode_benchmark grid|preview FILE\n");
        return 2;
    }
    const std::string path = argv[2];
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.empty()) {
        std::fprintf(stderr, "media_decode_benchmark: cannot read %s\n", path.c_str());
        return 1;
    }
    std::string extension = std::filesystem::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    const MediaFormat format = MediaFormatOfExtension(extension);
    if (format == FormatNone || MediaFormatIsRaw(format)) {
        std::fprintf(stderr, "media_decode_benchmark: %s is no HEIF picture or clip\n", path.c_str());
        return 2;
    }

    const auto start = std::chrono::steady_clock::now();
    DibPtr picture;
    if (how == "grid") {
        FoundFileBytes bytes;
        bytes.held = file;
        bytes.size = file.size();
        bytes.fileSize = file.size();
        bytes.source = MediaFormatIsHeif(format) ? ThumbnailSource::Heif : ThumbnailSource::Clip;
        picture = DecodeFoundFileThumbnail(bytes);
    } else {
        DelFileInfo record;
        record.media.format = format;
        record.fileSize = file.size();
        picture = DecodeFoundFilePicture(record, file.data(), file.size());
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (picture)
        std::printf("%.2f %dx%d\n", seconds, picture->width, picture->height);
    else
        std::printf("%.2f none\n", seconds);
    return 0;
}
