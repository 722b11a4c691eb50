// The Tools menu's disk commands, from the drive selection to the closing
// message:
//   RunSaveDiskImage     card (or image file) -> image file ("ディスクイメージを保存(&S)")
//   RunRestoreDiskImage  image file -> card ("ディスクイメージからカードに書込")
//   RunCompleteErase     overwrite a whole card ("完全消去(&D)")
// The writing commands refuse a mounted or non-removable target, and an image
// whose size is not the card's, before anything is written; then they name
// the card and its size once more and write only after the user confirms.
#pragma once

#include <QString>
#include <functional>
#include <string>

#include "tools/write_target.h"
#include "ui/message_boxes.h"

class QWidget;

namespace veld {

class SearchController;

// Which command asks for a source or target.
enum DiskToolKind : int { DiskToolSave = 1, DiskToolRestore = 2, DiskToolErase = 3 };

// What the drive selection gave: the card (its device path; the letter for
// the message texts) and, for the image commands, the image file as chosen.
// Image creation may start from an image file instead of a card (a copy of
// it, or the volume out of a whole-card image): then sourceImage names it
// and there is no device.
struct DiskToolChoice {
    char letter = 0;
    std::string devicePath;
    std::string imagePath;
    std::string sourceImage;
};

// Each command runs from the drive selection to its closing message, with the
// window's commands greyed. Once a card is chosen for an image command, the
// results of the controller's search are discarded (its device is closed
// while the selection runs); found files not saved yet are kept, and the
// command ends, unless the user agrees. owner: the window the dialogs belong to.
void RunSaveDiskImage(SearchController& controller, QWidget* owner);
void RunRestoreDiskImage(SearchController& controller, QWidget* owner);
void RunCompleteErase(SearchController& controller, QWidget* owner);

// The folder part of a chosen path, as stored in Config/Dir: everything
// before the last "/" (the path itself when it has none).
std::string ImageFolderOf(const std::string& path);

// Tests stand in for the drive selection (false: cancelled), the Yes/No
// questions (SetQuestionAnswererForTest, ui/message_boxes.h), and the
// writing rules' mount table and device trees. Empty functions (default
// rules) restore the real ones.
using DiskToolChooser = std::function<bool(DiskToolKind kind, DiskToolChoice* choice)>;
void SetDiskToolChooserForTest(DiskToolChooser chooser);
void SetWriteTargetRulesForTest(const WriteTargetRules& rules);

}  // namespace veld
