#include "app/app.h"
#include "platform/app_id.h"
#include "platform/bus_autolaunch.h"
#include "platform/clipboard_keeper.h"
#include "platform/desktop_route.h"
#include "platform/gnome/active_window_gnome.h"
#include "platform/gnome/clipboard_gnome.h"
#include "platform/gnome/global_hotkey_gnome.h"
#include "platform/gnome/paste_keystroke_gnome.h"
#include "platform/gnome/portal_remote_desktop.h"
#include "platform/qt/alerts_qt.h"
#include "platform/qt/autostart_qt.h"
#include "platform/qt/commands_dbus.h"
#include "platform/qt/instance_lock.h"
#include "platform/qt/main_queue_qt.h"
#include "platform/qt/notifications_qt.h"
#include "platform/qt/settings_store_qt.h"
#include "platform/qt/state_file_qt.h"
#include "platform/qt/tray_qt.h"
#include "platform/qt/ui_languages_qt.h"
#include "platform/qt/url_opener_qt.h"
#include "platform/portal/global_hotkey_portal.h"
#include "platform/portal/key_translator_xkb.h"
#include "platform/portal/paste_keystroke_portal.h"
#include "platform/portal/portal_probe.h"
#include "platform/x11/active_window_x11.h"
#include "platform/x11/clipboard_x11.h"
#include "platform/x11/connection.h"
#include "platform/x11/global_hotkey_x11.h"
#include "platform/x11/key_translator_x11.h"
#include "platform/x11/paste_keystroke_x11.h"
#include "platform/wayland/active_window_wayland.h"
#include "platform/wayland/clipboard_wayland.h"
#include "platform/wayland/global_hotkey_wayland.h"
#include "platform/wayland/paste_keystroke_wayland.h"
#include "platform/wayland/session.h"

#include <QApplication>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThreadPool>

#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>

#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// SIGINT and SIGTERM end the event loops like Quit does. Blocked in every
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
            quillet::App::quitNow();
        });
    }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

using Desktop = quillet::Route::Desktop;

// The `quillet` command that started us (it passes on its own name), in
// full; this program itself when it was started directly.
QString launcherPath() {
    const QString invoked = QCoreApplication::arguments().value(0);
    const QString launcher = invoked.contains(u'/') ? QFileInfo(invoked).absoluteFilePath()
                                                    : QStandardPaths::findExecutable(invoked);
    return launcher.isEmpty() ? QCoreApplication::applicationFilePath() : launcher;
}

// The services every desktop shares. Needs the QApplication.
quillet::PlatformServices qtServices(Desktop desktop) {
    using namespace quillet;
    PlatformServices services;
    services.settings = std::make_unique<SettingsStoreQt>();
    services.stateFile = std::make_unique<StateFileQt>();
    services.mainQueue = std::make_unique<MainQueueQt>();
    services.alerts = std::make_unique<AlertsQt>();
    services.notifications = std::make_unique<NotificationsQt>(
        desktop == Desktop::X11 ? NotificationsQt::Fallback::Window
                                : NotificationsQt::Fallback::StandardError);
    services.languages = std::make_unique<UiLanguagesQt>();
    services.tray = std::make_unique<TrayQt>();
    services.urlOpener = std::make_unique<UrlOpenerQt>();
    services.commands = std::make_unique<CommandsDBus>();
    services.autostart = std::make_unique<AutostartQt>(launcherPath());
    return services;
}

quillet::PlatformServices x11Services() {
    using namespace quillet;
    PlatformServices services = qtServices(Desktop::X11);
    services.clipboard = std::make_unique<ClipboardX11>();
    services.keystroke = std::make_unique<PasteKeystrokeX11>();
    services.activeWindow = std::make_unique<ActiveWindowX11>();
    services.hotkey = std::make_unique<GlobalHotkeyX11>();
    services.keyTranslator = std::make_unique<KeyTranslatorX11>();
    return services;
}

// On Wayland the clipboard always goes through data-control; keystrokes through
// a virtual keyboard where the compositor offers one (wlroots), else the
// desktop portal's (KDE); the shortcut through the portal on KDE, else the
// user binds `quillet --paste-next` in the compositor.
quillet::PlatformServices waylandServices(
    const std::shared_ptr<quillet::wayland::Session>& session, const quillet::Route& route,
    std::unique_ptr<quillet::PasteKeystrokeWayland> keyboard) {
    using namespace quillet;
    PlatformServices services = qtServices(Desktop::Wayland);
    services.clipboard = std::make_unique<ClipboardWayland>(session);
    services.activeWindow = std::make_unique<ActiveWindowWayland>(session);
    const portal::KeymapNames keymapNames = portal::sessionKeymapNames(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    if (route.keys == Route::Keys::Portal) {
        services.keystroke =
            std::make_unique<PasteKeystrokePortal>(*services.settings, keymapNames);
    } else {
        services.keystroke = std::move(keyboard);
    }
    if (route.shortcut == Route::Shortcut::Portal) {
        services.hotkey = std::make_unique<GlobalHotkeyPortal>();
    } else {
        services.hotkey = std::make_unique<GlobalHotkeyWayland>();
    }
    // For the shortcut dialog, which opens where the portal takes shortcuts.
    services.keyTranslator = std::make_unique<KeyTranslatorXkb>(keymapNames);
    return services;
}

// On GNOME the clipboard and the keys go through the RemoteDesktop portal
// where its clipboard works (GNOME 45 and later), else through mutter's own
// remote-desktop API; the shortcuts are custom keybindings in GNOME's settings.
quillet::PlatformServices gnomeServices() {
    using namespace quillet;
    PlatformServices services = qtServices(Desktop::Gnome);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    SettingsStore& settings = *services.settings;
    const auto keepToken = [&settings](const QString& token) {
        if (!token.isEmpty()) {
            settings.setString(QString::fromUtf16(kRemoteDesktopTokenKey), token);
        }
    };
    std::shared_ptr<gnome::PortalRemoteDesktop> portal;
    if (gnome::PortalRemoteDesktop::offered(bus)) {
        // Asked at start: the first run shows the desktop's dialog.
        portal = std::make_shared<gnome::PortalRemoteDesktop>(
            bus, settings.string(QString::fromUtf16(kRemoteDesktopTokenKey)).value_or(QString()),
            std::chrono::seconds(30));
        keepToken(portal->restoreToken());
    }
    if (portal && portal->clipboardWorks()) {
        const auto sessions = gnome::portalSessions(portal, bus, keepToken);
        services.clipboard = std::make_unique<ClipboardGnome>(sessions);
        services.keystroke = std::make_unique<PasteKeystrokeGnome>(sessions);
    } else {
        services.clipboard = std::make_unique<ClipboardGnome>(ClipboardGnome::mutterSessions());
        services.keystroke =
            std::make_unique<PasteKeystrokeGnome>(PasteKeystrokeGnome::mutterSessions());
    }
    services.activeWindow = std::make_unique<ActiveWindowGnome>();
    // The shortcuts become custom keybindings in GNOME's settings, once the
    // user agrees; without GNOME's schemas, the user binds the command.
    auto keybindings = std::make_unique<GlobalHotkeyGnome>(launcherPath());
    if (keybindings->problem().isEmpty()) {
        services.hotkey = std::move(keybindings);
    } else {
        std::cerr << "quillet: " << keybindings->problem().toStdString() << "." << std::endl;
        services.hotkey = std::make_unique<GlobalHotkeyWayland>();
    }
    services.keyTranslator = std::make_unique<KeyTranslatorXkb>(portal::sessionKeymapNames(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)));
    return services;
}

// Which desktop this is and what it lends, asked once at start.
quillet::SessionFacts sessionFacts(const quillet::wayland::Session* session,
                                   quillet::PasteKeystrokeWayland* keyboard,
                                   const QString& currentDesktop) {
    quillet::SessionFacts facts;
    facts.qtOnWayland = QGuiApplication::platformName() == QStringLiteral("wayland");
    if (!facts.qtOnWayland) {
        return facts;
    }
    const QDBusConnection bus = QDBusConnection::sessionBus();
    facts.currentDesktop = currentDesktop;
    facts.dataControl = session != nullptr && quillet::ClipboardWayland::supported(*session);
    facts.virtualKeyboard = keyboard != nullptr && keyboard->available();
    facts.mutterRemoteDesktop = quillet::gnome::MutterRemoteDesktop::offered(bus);
    facts.portalClipboard = quillet::desktopNamed(currentDesktop, u"GNOME") &&
                            quillet::gnome::PortalRemoteDesktop::offered(bus);
    facts.portalKeyboard = !facts.virtualKeyboard && quillet::portalKeyboardAvailable(bus);
    facts.portalShortcuts = quillet::portalShortcutsAvailable(bus);
    return facts;
}

// How the user makes a key run `quillet --paste-next`, in the spelling of
// the compositor's configuration.
void tellHowToBind() {
    // By its name where the PATH finds it, else in full.
    const QString launcher = launcherPath();
    const bool onPath = QStandardPaths::findExecutable(QStringLiteral("quillet")) == launcher;
    const std::string command =
        (onPath ? QStringLiteral("quillet") : launcher).toStdString() + " --paste-next";
    std::cerr << "Quillet is running. This desktop lets no program take a shortcut: bind one to\n"
                 "  "
              << command
              << "\n"
                 "in its configuration, then press it to paste the next line. For example:\n"
                 "  sway (~/.config/sway/config):   bindsym --no-repeat Ctrl+Mod1+Mod4+v exec "
              << command
              << "\n"
                 "  Hyprland (hyprland.conf):       bind = CTRL ALT SUPER, V, exec, "
              << command
              << "\n"
                 "  GNOME: Settings → Keyboard → Keyboard Shortcuts → Custom Shortcuts → +, "
                 "Command: "
              << command
              << "\n"
                 "--back, --skip and --restart in place of --paste-next move in the list."
              << std::endl;
}

// The program started again to keep what it put on the clipboard after it
// quit: no Qt application, no lock, no bus; it ends when somebody copies.
int keepClipboard(std::string_view desktop) {
    const std::optional<quillet::ClipboardContent> content = quillet::receiveKeptContent();
    if (!content) {
        return 1;
    }
    const auto serving = [] { quillet::reportKeeping(); };
    if (desktop == "gnome") {
        return quillet::ClipboardGnome::keep(*content, serving);
    }
    return desktop == "wayland" ? quillet::ClipboardWayland::keep(*content, serving)
                                : quillet::ClipboardX11::keep(*content, serving);
}

}  // namespace

// The program proper, started by the `quillet` command (launcher.cpp), which
// answers --help, --version and --paste-next itself.
int main(int argc, char* argv[]) {
    if (argc == 3 && argv[1] == quillet::kKeeperOption) {
        return keepClipboard(argv[2]);
    }
    // Before any thread exists: it sets the environment.
    quillet::bus::preventAutolaunch();
    // Before any thread exists, so that all of them inherit the mask.
    QuitSignals quitSignals;

    // A Wayland session is used as one where Qt can run on it; X11 otherwise,
    // Xwayland included. Qt follows the same choice, so that the desktop it
    // runs on is the one the services talk to.
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", wayland ? "wayland;xcb" : "xcb");
    }
    std::shared_ptr<quillet::wayland::Session> session;
    if (wayland && qgetenv("QT_QPA_PLATFORM").contains("wayland")) {
        session = quillet::wayland::Session::connect();
    }
    if (!session && !quillet::x11::openDisplay()) {
        const QByteArray display = qgetenv("DISPLAY");
        std::cerr << "quillet: cannot connect to the X display "
                  << (display.isEmpty() ? QByteArray("(DISPLAY is not set)") : '"' + display + '"')
                         .constData()
                  << (wayland ? " nor to the Wayland compositor" : "")
                  << ". Quillet needs an X11 session or a wlroots compositor (sway, Hyprland).\n";
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillet"));
    QApplication::setOrganizationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLET_VERSION));
    // Names our windows on Wayland (the app id) after the desktop file, not
    // after this binary.
    QGuiApplication::setDesktopFileName(QLatin1StringView(quillet::kAppId));
    // Closing a notice must never end the program: it has no main window.
    QApplication::setQuitOnLastWindowClosed(false);
    quitSignals.connect();
    // Qt's raster engine spreads big fills (the tray glyph at 32 px and up)
    // over the global pool, whose threads would each wake to end 30 s
    // later. Parked for good instead, an idle Quillet never wakes.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);

    auto keyboard = session ? std::make_unique<quillet::PasteKeystrokeWayland>(session) : nullptr;
    const QString currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const quillet::Route route =
        quillet::chooseRoute(sessionFacts(session.get(), keyboard.get(), currentDesktop));
    const Desktop desktop = route.desktop;
    if (desktop == Desktop::Unsupported) {
        std::cerr
            << "quillet: this Wayland compositor lets no program in the background use the "
               "clipboard (ext-data-control-v1 or wlr-data-control). Quillet works on wlroots "
               "compositors (sway, Hyprland, river), on GNOME and on X11.\n";
        return 1;
    }
    if (desktop != Desktop::Wayland) {
        keyboard.reset();
        session.reset();
    }
    quillet::PlatformServices services = desktop == Desktop::Wayland
                                             ? waylandServices(session, route, std::move(keyboard))
                                         : desktop == Desktop::Gnome ? gnomeServices()
                                                                     : x11Services();

    // One copy per settings folder: two would fight over the shortcut and the
    // run. Without the lock the run is not stored, as another copy may be
    // storing its own; the user is told, and pasting goes on.
    const quillet::InstanceLock lock(
        QFileInfo(quillet::SettingsStoreQt::filePath()).absolutePath() +
        QStringLiteral("/Quillet.lock"));
    if (lock.status() == quillet::InstanceLock::Status::Taken) {
        std::cerr << "quillet: Quillet is already running.\n";
        return 1;
    }
    if (lock.status() == quillet::InstanceLock::Status::Held) {
        quillet::StateFileQt().removeLeftovers();
    }
    if (lock.status() == quillet::InstanceLock::Status::Refused) {
        std::cerr << "quillet: " << lock.problem().toStdString()
                  << "; Quillet runs, but cannot keep a second copy out and does not save your "
                     "place in the list.\n";
        services.stateFile = std::make_unique<quillet::StateFileQt>(quillet::StateRefusal::NoLock);
    }

    quillet::Clipboard& clipboard = *services.clipboard;
    quillet::App quilletApp(std::move(services), std::cout);
    quilletApp.start();
    if (!quilletApp.commandsProblem().isEmpty()) {
        std::cerr << "quillet: quillet --paste-next cannot reach this copy: "
                  << quilletApp.commandsProblem().toStdString() << "." << std::endl;
    }
    if (!quilletApp.shortcutHeld() && desktop != Desktop::X11) {
        tellHowToBind();
    } else if (quilletApp.shortcutHeld()) {
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
    if (!clipboard.keepAfterQuit()) {
        std::cerr << "quillet: what you had copied could not be kept on the clipboard."
                  << std::endl;
    }
    return status;
}
