#include "app/app.h"
#include "platform/qt/alerts_qt.h"
#include "platform/qt/main_queue_qt.h"
#include "platform/qt/notifications_qt.h"
#include "platform/qt/settings_store_qt.h"
#include "platform/qt/state_file_qt.h"
#include "platform/qt/tray_qt.h"
#include "platform/qt/ui_languages_qt.h"
#include "platform/qt/url_opener_qt.h"
#include "platform/portal/global_hotkey_portal.h"
#include "platform/portal/paste_keystroke_portal.h"
#include "platform/portal/portal_probe.h"
#include "platform/x11/active_window_x11.h"
#include "platform/x11/clipboard_x11.h"
#include "platform/x11/connection.h"
#include "platform/x11/global_hotkey_x11.h"
#include "platform/x11/key_translator_x11.h"
#include "platform/x11/paste_keystroke_x11.h"

#include <QApplication>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThreadPool>

#include <csignal>
#include <cstring>
#include <iostream>
#include <string_view>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

constexpr std::string_view kUsage =
    "Usage: quillet [--help] [--version]\n"
    "\n"
    "Pastes a copied list one line per press of a global shortcut.\n"
    "Copy a block of text, switch to another application and press\n"
    "Control+Alt+Super+V once per field.\n"
    "Settings: $XDG_CONFIG_HOME/tarnwick/Quillet.conf (~/.config when unset)\n"
    "The current list: $XDG_STATE_HOME/tarnwick/Quillet.json (~/.local/state when unset)\n";

// SIGINT and SIGTERM end the event loop like Quit does. Blocked in every
// thread and read from a signalfd, so no handler runs in signal context.
class QuitSignals {
public:
    QuitSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~QuitSignals() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // Needs the application object; threads started after the constructor
    // inherit the blocked mask.
    void connect() {
        if (fd_ < 0) {
            return;
        }
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
            signalfd_siginfo info{};
            while (::read(fd_, &info, sizeof info) == sizeof info) {
            }
            QCoreApplication::quit();
        });
    }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

// The services of an X11 session. Needs the QApplication.
quillet::PlatformServices x11Services() {
    using namespace quillet;
    PlatformServices services;
    services.settings = std::make_unique<SettingsStoreQt>();
    services.stateFile = std::make_unique<StateFileQt>();
    services.mainQueue = std::make_unique<MainQueueQt>();
    services.alerts = std::make_unique<AlertsQt>();
    services.notifications = std::make_unique<NotificationsQt>();
    services.languages = std::make_unique<UiLanguagesQt>();
    services.clipboard = std::make_unique<ClipboardX11>(*services.mainQueue);
    services.keystroke = std::make_unique<PasteKeystrokeX11>();
    services.activeWindow = std::make_unique<ActiveWindowX11>();
    services.hotkey = std::make_unique<GlobalHotkeyX11>();
    services.tray = std::make_unique<TrayQt>();
    services.urlOpener = std::make_unique<UrlOpenerQt>();
    services.keyTranslator = std::make_unique<KeyTranslatorX11>();
    return services;
}

// --- xdg-desktop-portal: KDE Plasma and GNOME on Wayland ------------------
// X11 grabs and XTest reach no Wayland window. Where the desktop's portal
// binds shortcuts and lends a keyboard, those take over from them.
void usePortalsOnWayland(quillet::PlatformServices& services) {
    if (qgetenv("XDG_SESSION_TYPE") != "wayland") {
        return;
    }
    if (quillet::portalShortcutsAvailable()) {
        services.hotkey = std::make_unique<quillet::GlobalHotkeyPortal>();
    }
    if (quillet::portalKeyboardAvailable()) {
        services.keystroke = std::make_unique<quillet::PasteKeystrokePortal>(
            *services.settings,
            quillet::portal::sessionKeymapNames(
                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)));
    }
}
// ---------------------------------------------------------------------------

}  // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version" || arg == "-v") {
            std::cout << "Quillet " << QUILLET_VERSION << '\n';
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
    }

    // Before any thread exists, so that all of them inherit the mask.
    QuitSignals quitSignals;

    // Quillet works through X11 grabs and XTest; Qt must use the X connection too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
    if (!quillet::x11::openDisplay()) {
        const QByteArray display = qgetenv("DISPLAY");
        std::cerr << "quillet: cannot connect to the X display "
                  << (display.isEmpty() ? std::string("(DISPLAY is not set)")
                                        : "\"" + display.toStdString() + "\"")
                  << ". Quillet needs an X11 session.\n";
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setOrganizationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // Closing a notice must never end the program: it has no main window.
    QApplication::setQuitOnLastWindowClosed(false);
    quitSignals.connect();
    // Qt's raster engine spreads big fills (the tray glyph at 32 px and up)
    // over the global pool, whose threads would each wake to end 30 s
    // later. Parked for good instead, an idle Quillet never wakes.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);

    quillet::PlatformServices services = x11Services();
    usePortalsOnWayland(services);

    // One copy per settings folder: two would fight over the shortcut and the
    // run. A copy that died leaves a stale lock, which QLockFile takes over.
    QLockFile lock(QFileInfo(quillet::SettingsStoreQt::filePath()).absolutePath() +
                   QStringLiteral("/Quillet.lock"));
    if (!lock.tryLock()) {
        std::cerr << "quillet: Quillet is already running.\n";
        return 1;
    }

    quillet::App quilletApp(std::move(services), std::cout);
    quilletApp.start();
    if (quilletApp.shortcutHeld()) {
        std::cerr << "Quillet is running. Press "
                  << quillet::shortcutText(quilletApp.shortcut()).toStdString()
                  << " to paste the next line of the copied text." << std::endl;
    } else {
        std::cerr << "Quillet is running without a shortcut: it could not be registered."
                  << std::endl;
    }
    if (!quilletApp.trayAvailable()) {
        std::cerr << "quillet: no system tray is available; the shortcut works, and the icon "
                     "appears when a tray starts."
                  << std::endl;
    }
    const int status = QApplication::exec();
    quilletApp.prepareToQuit();
    return status;
}
