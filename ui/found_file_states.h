// How the views show what state a found file is in, from one table: each row
// is a state text the list's "状態" column shows, with the group the filters
// and the legend put it in, its colour (the grid's badge, the disk map) and a
// short line that says what the state promises. A new state is one more row
// of kStateLooks (found_file_states.cpp); a file whose text has no row is
// shown as damaged. The kinds the filters offer (pictures, videos, others)
// are decided here too.
#pragma once

#include <QColor>
#include <QString>
#include <cstdint>
#include <span>

#include "finder/del_file_info.h"

namespace veld {

// What a state means for the user, as the filters group the states.
enum class StateGroup : uint8_t {
    Good = 0,         // the whole file is on the card
    Partial = 1,      // only part of it could be gathered
    Damaged = 2,      // its data is not what its name says, or it is empty
    Overwritten = 3,  // another file has taken its place
};
constexpr int kStateGroupCount = 4;

struct StateLook {
    // The list's state text, or its first word for texts with a number
    // ("断片化" for "断片化  75%").
    const char* text;
    StateGroup group;
    QRgb colour;
    // One short line: what saving the file gives.
    const char* explanation;
};

// Every row, in the order the legend lists them.
std::span<const StateLook> StateLooks();
// The row of a record's state (a damaged row for a text no row knows).
const StateLook& StateLookOf(const DelFileInfo& record);
// The row of a state text as the list shows it ("断片化  75%" finds "断片化").
const StateLook& StateLookOfText(const QString& stateText);

// "良", "一部", "破損", "上書き".
QString StateGroupName(StateGroup group);
// What the group promises, in a few words ("そのまま復元できます").
QString StateGroupPromise(StateGroup group);
QColor StateGroupColour(StateGroup group);

// The kinds of file the filters offer.
enum class KindGroup : uint8_t { Pictures = 0, Videos = 1, Others = 2 };
constexpr int kKindGroupCount = 3;
KindGroup KindGroupOf(const DelFileInfo& record);
// "画像", "動画", "その他".
QString KindGroupName(KindGroup kind);

}  // namespace veld
