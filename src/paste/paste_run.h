#pragma once

#include "core/app_state.h"
#include "core/run_moves.h"
#include "paste/run_store.h"

#include <optional>

namespace quillet {

class Clipboard;
class PasteInjector;
class SettingsStore;

// What one press came to; app/ words it for the user.
enum class StepResult {
    Pasted,             // a line went to the focused application; the cursor moved on
    NotFetched,         // the chord was posted but nobody took the line; the place is kept
    NoKeystroke,        // no keystroke could be sent; the place is kept
    ClipboardRefused,   // the clipboard could not be taken; the place is kept
    ClipboardEmpty,     // the clipboard yields no lines
    AllPasted,          // the press after the last line; the run starts over
    ClipboardNoAnswer,  // the clipboard's owner did not answer; the run is kept
    ClipboardTooLarge,  // more than the program will read; the run is kept
    Interrupted,        // the program is quitting; nothing was stored
    Moved,              // the cursor moved without a paste (or stayed, at an edge)
};

// What became of the clipboard as it was before the press.
enum class PutBack {
    Whole,    // back as it was, or nothing had to come back
    Partial,  // back without the formats that could not be read in time
    Lost,     // could not be put back
};

struct StepOutcome {
    StepResult result = StepResult::Pasted;
    // The run could not be written; it goes on in memory until the program quits.
    bool unsaved = false;
    PutBack putBack = PutBack::Whole;
    friend bool operator==(const StepOutcome&, const StepOutcome&) = default;
};

// One press of the shortcut: pastes the next line (or cell, in Paste Cells)
// of the copied text and moves the cursor on. The run lives in memory, loaded on the first press,
// and its file follows every press. Runs on the paste worker, never on the
// UI thread (reading the clipboard may take long).
class PasteRun {
public:
    PasteRun(RunStore& store, Clipboard& clipboard, PasteInjector& injector,
             const SettingsStore& settings)
        : store_(store), clipboard_(clipboard), injector_(injector), settings_(settings) {}

    StepOutcome step();
    // Moves the cursor and stores it like a press; pastes nothing.
    StepOutcome move(RunMove move);
    StepOutcome moveTo(std::int64_t index);
    // The run made anew from its text, of lines or cells as now set, from the
    // first; pastes nothing.
    StepOutcome remake();

    // The run as it stands, loaded from its file the first time.
    const AppState& run();

private:
    StepOutcome store(AppState next);
    StepOutcome deliver(AppState next, const struct ClipboardRead& clipboard, bool newRun);
    bool cellsWanted() const;

    RunStore& store_;
    Clipboard& clipboard_;
    PasteInjector& injector_;
    const SettingsStore& settings_;
    std::optional<AppState> run_;
};

}  // namespace quillet
