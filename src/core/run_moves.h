#pragma once

#include "core/app_state.h"
#include "core/texts.h"

#include <cstdint>

namespace quillet {

// Moves within the run that paste nothing. Only the cursor changes, so a
// move is stored like a press.
enum class RunMove {
    Back,       // the line before comes next again
    Skip,       // the next line is passed over
    StartOver,  // the first line comes next
};

// The run after the move. At the edges the cursor stays where it is: back
// at the first line, skip once every line is passed.
AppState moved(AppState run, RunMove move);

// The run with the line at index next; an index outside the run changes nothing.
AppState movedTo(AppState run, std::int64_t index);

// Where the run stands, for the tray and `quillet --status`: "3 of 12 · next:
// London", or in cells "row 3, cell 2 of 5 · next: London", the line
// shortened to fit a menu.
QString positionText(const AppState& run, Language language);

// A line for one row of a menu or a list: tabs and other control characters
// become spaces, and past maxLength it ends in "…".
QString shortenedLine(const QString& line, qsizetype maxLength);

}  // namespace quillet
