#include "platform/alerts_qt.h"
#include "platform/clipboard_x11.h"
#include "platform/global_hotkey_x11.h"
#include "platform/key_translator_x11.h"
#include "platform/main_queue_qt.h"
#include "platform/paste_keystroke_x11.h"
#include "platform/platform_services.h"
#include "platform/settings_store_qt.h"
#include "platform/status_item_qt.h"
#include "platform/ui_languages_qt.h"
#include "platform/url_opener_qt.h"

namespace quillet {

PlatformServices makePlatformServices() {
    PlatformServices services;
    services.settings = std::make_unique<SettingsStoreQt>();
    services.mainQueue = std::make_unique<MainQueueQt>();
    services.alerts = std::make_unique<AlertsQt>();
    services.languages = std::make_unique<UiLanguagesQt>();
    services.clipboard = std::make_unique<ClipboardX11>();
    services.keystroke = std::make_unique<PasteKeystrokeX11>();
    services.hotkey = std::make_unique<GlobalHotkeyX11>();
    services.statusItem = std::make_unique<StatusItemQt>();
    services.urlOpener = std::make_unique<UrlOpenerQt>();
    services.keyTranslator = std::make_unique<KeyTranslatorX11>();
    return services;
}

}  // namespace quillet
