// Times of clips as the list shows them: "yyyy/mm/dd hh:mm:ss" in this
// machine's local time, like the EXIF dates of pictures.
#pragma once

#include <cstdint>
#include <string>

namespace veld {

// Seconds since 1970-01-01 UTC as local time text; "" for 0 and for times
// before 1980 or after 2107 (no camera made those; a damaged field).
std::string LocalTimeText(int64_t unixSeconds);
// A time written as text by a camera: "yyyy:mm:dd hh:mm:ss" (EXIF style,
// also with "/" or "-") or "Www Mmm dd hh:mm:ss yyyy" (C library style), as
// "yyyy/mm/dd hh:mm:ss"; "" when it is neither.
std::string NormalisedTimeText(const std::string& text);
// Seconds between 1904-01-01 (the ISO media epoch) and 1970-01-01.
constexpr int64_t kIsoEpochToUnix = 2082844800;

}  // namespace veld
