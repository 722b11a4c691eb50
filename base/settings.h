// The settings file Veld.ini: every choice the application remembers between
// runs, read and written by section and key. Integers are stored as "%d".
//
//   [Config]       SaveDir, SaveMode, SaveDirFlag, Dir, ListWidth0..10,
//                  NotOpenEasyWiz, DelPentagon, UpdateUrl, HomeUrl
//   [Recent]       Image1..Image8 (the disk images searched last, newest first)
//   [SearchOption] Option, Pic, SearchDetail
//   [VELD]         SaveWndPos
//   [WindowPos]    BmpViewSimple-L/-T/-R/-B
//   [BMPV]         DISPALL, ALLPAGECNV
#pragma once

#include <string>

namespace veld {

// The settings file in use: Veld.ini in the user's configuration folder,
// unless a test or the command line pointed elsewhere.
std::string SettingsFilePath();
void SetSettingsFilePath(const std::string& path);  // "" restores the default

// An empty file argument means Veld.ini.
int ReadIniInt(const std::string& section, const std::string& key, int defaultValue, const std::string& file = "");
// The value, or the default when the key is missing (or holds "GET_ERROR").
std::string ReadIniString(const std::string& section, const std::string& key, const std::string& defaultValue,
                          const std::string& file = "");
bool WriteIniInt(const std::string& section, const std::string& key, int value, const std::string& file = "");
// A null value removes the key.
bool WriteIniString(const std::string& section, const std::string& key, const char* value,
                    const std::string& file = "");

// The system's temporary folder, ending with "/".
std::string TempFolderPath();
// The user's documents folder (the XDG one), the folder dialogs start in and
// the default of the save and image folders. One that does not exist yet is
// created, so that files are never saved into the home folder itself; only
// when it cannot be created, the home folder instead; "" when neither
// exists. Dialogs therefore never start in, or pre-type, a folder that is
// not there.
std::string UserDocumentsFolder();

struct ScreenRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};
// Writes the rectangle under [WindowPos] name-L, -T, -B, -R unless it lies
// off the screen; 1 when written.
int SaveWindowRect(const std::string& name, const ScreenRect& window, int screenWidth, int screenHeight);

}  // namespace veld
