// Files that ship with the program: the help page and the demo card. In the
// build folder they lie beside the executable (doc/VELD.HTM, demo-card.img);
// installed, the executable is in <prefix>/bin and they are in
// <prefix>/share/veld.
#pragma once

#include <string>

namespace veld {

// The help page, relative to the folder of data files.
inline constexpr char kHelpPageName[] = "doc/VELD.HTM";
inline constexpr char kDemoCardName[] = "demo-card.img";

// The path of a data file for an executable in exeFolder: beside it when it
// is there, else in the installed data folder when it is there; when it is in
// neither, the path beside the executable (the one to name in a message).
std::string DataFilePath(const std::string& exeFolder, const std::string& name);

// The installed data folder for an executable in exeFolder.
std::string InstalledDataFolder(const std::string& exeFolder);

}  // namespace veld
