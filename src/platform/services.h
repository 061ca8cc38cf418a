#pragma once

#include "platform/active_window.h"
#include "platform/alerts.h"
#include "platform/autostart.h"
#include "platform/clipboard.h"
#include "platform/commands.h"
#include "platform/global_hotkey.h"
#include "platform/key_translator.h"
#include "platform/main_queue.h"
#include "platform/notifications.h"
#include "platform/paste_keystroke.h"
#include "platform/settings_store.h"
#include "platform/state_file.h"
#include "platform/tray.h"
#include "platform/ui_languages.h"
#include "platform/url_opener.h"

#include <memory>

namespace quillet {

// Every platform service the program uses, owned in one place. main() fills
// it with the platform's implementations; tests with in-memory doubles.
struct PlatformServices {
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<StateFile> stateFile;  // used on the paste worker only
    std::unique_ptr<MainQueue> mainQueue;
    std::unique_ptr<Alerts> alerts;
    std::unique_ptr<Notifications> notifications;
    std::unique_ptr<UiLanguages> languages;
    std::unique_ptr<Clipboard> clipboard;
    std::unique_ptr<PasteKeystroke> keystroke;   // used on the paste worker only
    std::unique_ptr<ActiveWindow> activeWindow;  // used on the paste worker only
    std::unique_ptr<GlobalHotkey> hotkey;
    std::unique_ptr<Tray> tray;
    std::unique_ptr<UrlOpener> urlOpener;
    std::unique_ptr<KeyTranslator> keyTranslator;
    std::unique_ptr<Commands> commands;
    std::unique_ptr<Autostart> autostart;
};

}  // namespace quillet
