// The version of Veld as the about box, `veld --version` and the update
// check show and compare it; the build sets it from the project's version.
#pragma once

namespace veld {

inline constexpr char kVersionText[] = VELD_VERSION_TEXT;

}  // namespace veld
