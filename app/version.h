// The version of Veld as the about box, `veld --version` and the update
// check show and compare it.
#pragma once

namespace veld {

inline constexpr char kVersionText[] = "V2.100";

}  // namespace veld
