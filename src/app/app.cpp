#include "app/app.h"

#include "app/link_dialogs.h"
#include "app/run_window.h"
#include "core/run_moves.h"
#include "hotkey/capture_dialog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>

#include <ostream>

namespace quillet {

using namespace Qt::StringLiterals;

App::App(PlatformServices services, std::ostream& console)
    : services_(std::move(services)),
      console_(console),
      language_(*services_.settings, *services_.languages),
      notices_(*services_.mainQueue, *services_.notifications, language_),
      hotkeys_(*services_.hotkey, *services_.settings, console),
      injector_(*services_.clipboard, *services_.keystroke, *services_.activeWindow,
                *services_.settings),
      runStore_(*services_.stateFile, *services_.settings),
      pasteRun_(runStore_, *services_.clipboard, injector_, *services_.settings),
      menu_(*services_.tray, language_, *services_.settings, hotkeys_, *services_.autostart,
            TrayMenu::Actions{
                [this](ShortcutAction action) { changeShortcut(action); },
                [this] { move(RunMove::Back); },
                [this] { move(RunMove::Skip); },
                [this] { move(RunMove::StartOver); },
                [this] { showList(); },
                [this] {
                    runLinkDialog(aboutDialog(language_.current()), *services_.alerts,
                                  *services_.urlOpener);
                },
                [] { quitNow(); },
                [this](bool wanted) { setStartAtLogin(wanted); },
                [this] { queueStep([this] { return pasteRun_.remake(); }); },
            }) {
    services_.hotkey->setHandler([this](ShortcutAction action) { onAction(action); });
    language_.setOnChange([this](bool saved) {
        if (runWindow_) {
            runWindow_->setLanguage(language_.current());
        }
        if (!saved) {
            notices_.tell(text::kSettingNotSaved);
        }
    });
    services_.commands->setHandler([this](Command command) {
        const auto refused = onAction(command);
        return refused ? refused->in(language_.current()) : QString();
    });
    services_.commands->setStatusHandler(
        [this](std::function<void(const QString&)> answer) { answerStatus(std::move(answer)); });
    services_.hotkey->setBlockedHandler([this] {
        console_ << "The shortcut was pressed while another program held the keyboard."
                 << std::endl;
        notices_.tell(text::kShortcutBlocked);
    });
}

App::~App() {
    services_.hotkey->releaseAll();
    // A step waiting for the UI thread is released and stores nothing.
    services_.mainQueue->shutDown();
}

void App::start() {
    // A first run asks for a shortcut right after start-up, once the default
    // is in place; where none can be taken, the desktop's settings run
    // `quillet --paste-next` instead. Where taking one writes the desktop's
    // own settings, the user is asked first.
    const bool grabs = services_.hotkey->canGrab() && desktopSettingsAllowed(false);
    if (grabs && !readStoredShortcut(*services_.settings)) {
        services_.mainQueue->post([this] { changeShortcut(ShortcutAction::PasteNext); });
    }
    if (!grabs && services_.hotkey->canGrab()) {
        // The offer names the shortcut it would add; asked once, a "no" is kept.
        services_.mainQueue->post([this] {
            if (desktopSettingsAllowed(true)) {
                hotkeys_.registerStoredOrDefault();
                hotkeys_.registerStoredMoves();
                menu_.rebuild();
            }
        });
    }
    if (!services_.keystroke->available()) {
        services_.mainQueue->post([this] {
            runLinkDialog(inputPermissionDialog(language_.current()), *services_.alerts,
                          *services_.urlOpener);
        });
    }
    if (grabs) {
        hotkeys_.registerStoredOrDefault();
        hotkeys_.registerStoredMoves();
    }
    commandsProblem_ = services_.commands->listen();
    menu_.show();
    // The stored run shows before the first press, and a file left alone is told.
    pasteQueue_.async([this] {
        publishRun();
        if (const StateRefusal refusal = services_.stateFile->refusal();
            refusal != StateRefusal::None) {
            notices_.tell(refusal);
        }
    });
}

void App::quitNow() {
    // Every event loop ends, a dialog's too, and no window is asked first:
    // Qt's quit() asks each to close, and gives up when one stays.
    QCoreApplication::exit(0);
}

void App::prepareToQuit() {
    hotkeys_.release();
    services_.commands->setHandler({});
    notices_.mute();
    pasteQueue_.discardPending();
    // One step takes well under this; past it, quitting wins.
    QDeadlineTimer deadline(3000);
    while (!pasteQueue_.idle() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        QThread::msleep(2);
    }
    // A step still in flight lets go at once: its read ends and its hops to
    // this thread are refused, so it stores nothing.
    services_.clipboard->cancelReads();
    services_.mainQueue->shutDown();
}

void App::onShortcutPressed() {
    queueStep([this] { return pasteRun_.step(); });
}

void App::move(RunMove move) {
    queueStep([this, move] { return pasteRun_.move(move); });
}

void App::moveTo(std::int64_t index) {
    queueStep([this, index] { return pasteRun_.moveTo(index); });
}

void App::queueStep(std::function<StepOutcome()> step) {
    using Clock = std::chrono::steady_clock;
    pasteQueue_.async([this, step = std::move(step), asked = Clock::now()] {
        if (Clock::now() - asked > longestWait_) {
            // Each notice replaces the one before, so the count is the news.
            ++droppedInARow_;
            if (droppedInARow_ == 1) {
                notices_.tell(text::kOnePressDropped);
            } else {
                notices_.tell([count = droppedInARow_](Language language) {
                    return text::kPressesDropped.in(language).arg(count);
                });
            }
            return;
        }
        droppedInARow_ = 0;
        const StepOutcome outcome = step();
        notices_.tell(outcome, services_.stateFile->refusal());
        publishRun();
    });
}

void App::answerStatus(std::function<void(const QString&)> answer) {
    // Both answers come on the UI thread; the first one is given.
    auto reply = std::make_shared<std::function<void(const AppState&)>>(
        [this, answer = std::move(answer)](const AppState& run) mutable {
            if (answer) {
                answer(positionText(run, language_.current()));
                answer = nullptr;
            }
        });
    // Behind the presses and moves asked for before it, unless they take long.
    pasteQueue_.async([this, reply] {
        const AppState& run = pasteRun_.run();
        services_.mainQueue->post(
            [reply, run = AppState{run.lines, run.currentIndex, {}, run.rowStarts}] {
                (*reply)(run);
            });
    });
    QTimer::singleShot(kStatusPatience, &statusDeadlines_, [this, reply] { (*reply)(shownRun_); });
}

std::optional<Text> App::onAction(ShortcutAction action) {
    // Our own chord, sent while the shortcut's keys were still held, ran the
    // shortcut again: the paste in flight sends it anew.
    if (action == ShortcutAction::PasteNext && injector_.echoes().takeEcho()) {
        return std::nullopt;
    }
    if (action == ShortcutAction::PasteNext && shortcutDialogs_ > 0) {
        // The dialog has the focus, so the line would land there; held back
        // until it closes, it would land wherever the focus is by then.
        notices_.tell(text::kPasteWhileDialogOpen);
        return text::kPasteWhileDialogOpen;
    }
    switch (action) {
        case ShortcutAction::PasteNext:
            onShortcutPressed();
            break;
        case ShortcutAction::Back:
            move(RunMove::Back);
            break;
        case ShortcutAction::Skip:
            move(RunMove::Skip);
            break;
        case ShortcutAction::StartOver:
            move(RunMove::StartOver);
            break;
    }
    return std::nullopt;
}

void App::publishRun() {
    const AppState& run = pasteRun_.run();
    // Lines are shared, not copied; the source text stays with the worker.
    services_.mainQueue->post(
        [this, shown = AppState{run.lines, run.currentIndex, {}, run.rowStarts}]() mutable {
            showRun(std::move(shown));
        });
}

void App::showRun(AppState run) {
    shownRun_ = run;
    if (runWindow_) {
        runWindow_->setRun(run);
    }
    menu_.setRun(std::move(run));
}

void App::setStartAtLogin(bool wanted) {
    const QString problem = services_.autostart->setEnabled(wanted);
    if (!problem.isEmpty()) {
        console_ << "quillet: " << problem.toStdString() << std::endl;
        notices_.tell(wanted ? text::kStartAtLoginOnFailed : text::kStartAtLoginOffFailed, problem);
    }
    menu_.rebuild();
}

void App::showList() {
    if (!runWindow_) {
        runWindow_ = std::make_unique<RunWindow>([this](std::int64_t index) { moveTo(index); });
    }
    runWindow_->setLanguage(language_.current());
    runWindow_->setRun(shownRun_);
    runWindow_->open();
}

bool App::desktopSettingsAllowed(bool ask, bool again) {
    const QString key = QString::fromUtf16(kDesktopShortcutsKey);
    const std::optional<QString> stored = services_.settings->string(key);
    if (!services_.hotkey->writesDesktopSettings() || stored == u"true") {
        return true;
    }
    if (!ask || (stored && !again)) {
        return false;
    }
    const Language language = language_.current();
    const bool yes =
        services_.alerts->exec(AlertSpec{
            text::kDesktopShortcutsTitle.in(language),
            text::kDesktopShortcutsBody.in(language).arg(shortcutText(hotkeys_.current())),
            AlertStyle::Information,
            {text::kAddShortcuts.in(language), text::kDontAdd.in(language)},
            true}) == 0;
    if (!services_.settings->setString(key, yes ? u"true"_s : u"false"_s)) {
        notices_.tell(text::kSettingNotSaved);
    }
    return yes;
}

void App::changeShortcut(ShortcutAction action) {
    if (!services_.hotkey->canGrab()) {
        notices_.tell(text::kShortcutFailed);
        return;
    }
    // Chosen from the menu: a "no" given before is asked again.
    if (!desktopSettingsAllowed(true, true)) {
        return;
    }
    // Every shortcut is let go while the dialog is open: the old one does
    // nothing then, and the dialog sees the others' combinations (a grab of
    // ours hides them from our own windows too), so a duplicate is refused
    // rather than pasting or moving.
    hotkeys_.release();
    const Language language = language_.current();
    std::optional<Shortcut> chosen;
    bool cleared = false;
    ++shortcutDialogs_;
    if (action == ShortcutAction::PasteNext) {
        chosen =
            runCaptureDialog(language, shortcutText(hotkeys_.current()), *services_.keyTranslator);
    } else {
        const auto assigned = hotkeys_.shortcutFor(action);
        const MoveCapture capture =
            runMoveCaptureDialog(language, actionName(action),
                                 assigned ? std::optional(shortcutText(*assigned)) : std::nullopt,
                                 *services_.keyTranslator);
        chosen = capture.chosen;
        cleared = capture.cleared;
    }
    --shortcutDialogs_;
    for (const ShortcutAction other : kShortcutActions) {
        if (other != action) {
            hotkeys_.registerStored(other);
        }
    }
    if (cleared) {
        notices_.tell(hotkeys_.clear(action) ? text::kShortcutCleared : text::kSettingNotSaved);
        menu_.rebuild();
        return;
    }
    if (!chosen) {
        hotkeys_.registerStored(action);
        return;
    }
    switch (hotkeys_.change(action, *chosen)) {
        case HotkeyRegistration::Change::Set:
            notices_.tell(text::kShortcutSet);
            menu_.rebuild();
            break;
        case HotkeyRegistration::Change::Unsaved:
            notices_.tell(text::kShortcutNotSaved);
            menu_.rebuild();
            break;
        case HotkeyRegistration::Change::Failed:
            notices_.tell(text::kShortcutFailed);
            break;
        case HotkeyRegistration::Change::Duplicate: {
            hotkeys_.registerStored(action);
            const ShortcutAction owner =
                hotkeys_.actionWith(*chosen, action).value_or(ShortcutAction::PasteNext);
            notices_.tell([shown = shortcutText(*chosen), owner](Language now) {
                return text::kShortcutInUse.in(now).arg(shown, actionName(owner).in(now));
            });
            break;
        }
    }
}

}  // namespace quillet
