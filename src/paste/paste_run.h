#pragma once

namespace quillet {

class Clipboard;
class MainQueue;
class Notifier;
class PasteInjector;
class SettingsStore;

// One press of the shortcut: pastes the next line of the copied text and
// moves the persisted cursor on. Runs on the paste worker, never on the UI
// thread (its clipboard hops would wait for themselves).
class PasteRun {
public:
    PasteRun(SettingsStore& settings, MainQueue& mainQueue, Clipboard& clipboard,
             PasteInjector& injector, const Notifier& notifier)
        : settings_(settings),
          mainQueue_(mainQueue),
          clipboard_(clipboard),
          injector_(injector),
          notifier_(notifier) {}

    void executePasteLogic();

private:
    SettingsStore& settings_;
    MainQueue& mainQueue_;
    Clipboard& clipboard_;
    PasteInjector& injector_;
    const Notifier& notifier_;
};

}  // namespace quillet
