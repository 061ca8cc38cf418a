#pragma once

#include "paste/app_state.h"

#include <optional>

namespace quillet {

class Clipboard;
class Notifier;
class PasteInjector;
class SettingsStore;

// One press of the shortcut: pastes the next line of the copied text and
// moves the persisted cursor on. Runs on the paste worker, never on the UI
// thread (reading the clipboard may take long, and its hops to the UI
// thread would wait for themselves).
class PasteRun {
public:
    PasteRun(SettingsStore& settings, Clipboard& clipboard, PasteInjector& injector,
             const Notifier& notifier)
        : settings_(settings), clipboard_(clipboard), injector_(injector), notifier_(notifier) {}

    void executePasteLogic();

private:
    // The stored run, or the one kept here while the settings cannot be written.
    AppState load() const;
    void store(const AppState& state);

    SettingsStore& settings_;
    Clipboard& clipboard_;
    PasteInjector& injector_;
    const Notifier& notifier_;
    // Set while saving fails, so that the run still moves on until the program quits.
    std::optional<AppState> unsaved_;
    bool saveFailureTold_ = false;
};

}  // namespace quillet
