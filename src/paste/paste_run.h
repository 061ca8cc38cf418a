#pragma once

#include "core/app_state.h"

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
    ClipboardEmpty,     // the clipboard yields no lines
    AllPasted,          // the press after the last line; the run starts over
    ClipboardNoAnswer,  // the clipboard's owner did not answer; the run is kept
    ClipboardTooLarge,  // more than the program will read; the run is kept
    Interrupted,        // the program is quitting; nothing was stored
};

struct StepOutcome {
    StepResult result = StepResult::Pasted;
    // The run could not be written; it goes on in memory until the program quits.
    bool unsaved = false;
    friend bool operator==(const StepOutcome&, const StepOutcome&) = default;
};

// The stored run, or the empty state when nothing usable is stored.
AppState loadState(const SettingsStore& settings);
// False when the run could not be written.
bool saveState(SettingsStore& settings, const AppState& state);

// One press of the shortcut: pastes the next line of the copied text and
// moves the persisted cursor on. Runs on the paste worker, never on the UI
// thread (reading the clipboard may take long, and the injector's hops to
// the UI thread would wait for themselves).
class PasteRun {
public:
    PasteRun(SettingsStore& settings, Clipboard& clipboard, PasteInjector& injector)
        : settings_(settings), clipboard_(clipboard), injector_(injector) {}

    StepOutcome step();

private:
    // The stored run, or the one kept here while the settings cannot be written.
    AppState load() const;
    // False when the run stays in memory only.
    bool store(const AppState& state);

    SettingsStore& settings_;
    Clipboard& clipboard_;
    PasteInjector& injector_;
    std::optional<AppState> unsaved_;
};

}  // namespace quillet
