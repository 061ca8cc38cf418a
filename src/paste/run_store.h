#pragma once

#include "core/app_state.h"

namespace quillet {

class SettingsStore;
class StateFile;

// Keeps the file copy of the run, which lives in memory: a new run is
// written whole, a press that only moves the cursor rewrites the index in
// place, so the cost of a press does not grow with the list. Paste worker only.
class RunStore {
public:
    RunStore(StateFile& file, SettingsStore& settings) : file_(file), settings_(settings) {}

    // The stored run, or the empty state when nothing usable is stored. A
    // run older versions kept in the settings ("appState") moves to the file.
    AppState load();

    // False when the run could not be written; it is written whole next time.
    bool save(const AppState& run);
    // The same run with another cursor.
    bool saveIndex(const AppState& run);

private:
    StateFile& file_;
    SettingsStore& settings_;
    std::optional<qsizetype> indexOffset_;  // known while the file holds the run's lines
};

}  // namespace quillet
