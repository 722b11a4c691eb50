// The picture and clip formats the signature search recognises beyond JPEG:
// each with the extension a carved file gets and whether it is a picture
// (listed with the photos) or a clip.
#pragma once

#include <cstdint>
#include <string>

namespace veld {

enum MediaFormat : uint8_t {
    FormatNone = 0,
    // ISO base media file format, told apart by the brands of "ftyp"
    FormatMp4,
    FormatMov,
    Format3gp,
    Format3g2,
    FormatHeic,
    FormatHeif,
    FormatAvif,
    FormatCr3,
    // TIFF layout, told apart by the header and the camera's make
    FormatTif,
    FormatCr2,
    FormatNef,
    FormatNrw,
    FormatArw,
    FormatSr2,
    FormatDng,
    FormatOrf,
    FormatRw2,
    FormatPef,
    FormatSrw,
    FormatErf,
    Format3fr,
    FormatRaf,  // Fujifilm's own header with offsets
    // clips in other containers
    FormatAvi,
    FormatMts,  // MPEG transport stream, 192-byte packets
    FormatMpg,  // MPEG program stream
    FormatCount,
};

// Lower-case extension of a carved file of the format ("heic", "cr2"); "" for none.
const char* MediaFormatExtension(MediaFormat format);
// True for still pictures (HEIF family, RAW, TIFF), false for clips and none.
bool MediaFormatIsPicture(MediaFormat format);
// True for the RAW formats whose picture is shown through an embedded JPEG.
bool MediaFormatIsRaw(MediaFormat format);
// True for the HEIF family (decoded by the HEIF library).
bool MediaFormatIsHeif(MediaFormat format);
// Whether files of the extension are pictures: the desktop's content type
// for it is an image type, or it names one of the picture formats above
// (some RAW types are missing from the MIME database).
bool ExtensionIsPicture(const std::string& extension);
// The format a file name's extension names (case ignored); FormatNone when
// it names none of them.
MediaFormat MediaFormatOfExtension(const std::string& extension);

}  // namespace veld
