// The line where the user types, in applications of Debian's.

#include "x_harness.h"

#include <QDBusConnection>
#include <QFile>
#include <QGuiApplication>
#include <QObject>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

// An application of Debian's that writes what reached it into a file.
class Application {
public:
    // `arguments` start it so that it writes into the file it is given.
    Application(const QString& program,
                const std::function<QStringList(const QString& file)>& arguments) {
        process_.setProgram(program);
        process_.setArguments(arguments(file_));
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start();
    }
    ~Application() {
        process_.terminate();
        process_.waitForFinished(5000);
    }
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    qint64 pid() const { return process_.processId(); }
    std::uint32_t window() const { return window_; }
    bool focus() {
        return waitUntil(
                   [&] {
                       const auto windows = x().windows(process_.processId());
                       if (!windows.empty() && QFile::exists(file_)) {
                           window_ = windows.front().id;
                       }
                       return window_ != 0;
                   },
                   20s) &&
               x().focus(window_);
    }
    QString text() const {
        QFile file(file_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    bool waitForText(const QString& expected, Clock::duration timeout = 10s) {
        return waitUntil([&] { return text() == expected; }, timeout);
    }

private:
    QTemporaryDir dir_;
    QString file_ = dir_.filePath(u"typed"_s);
    QProcess process_;
    std::uint32_t window_ = 0;
};

// A shell that is `cat` on a raw tty into the file: the file holds exactly
// what reached the terminal's keyboard input.
QString catInto(const QString& file) {
    return u"stty raw -echo; exec cat > '%1'"_s.arg(file);
}

Application startXterm() {
    return Application(u"xterm"_s, [](const QString& file) {
        return QStringList{u"-e"_s, u"sh"_s, u"-c"_s, catInto(file)};
    });
}

// Stops a process (SIGSTOP) until what this returns goes, as a busy one would be.
OnExit stopped(qint64 pid) {
    ::kill(static_cast<pid_t>(pid), SIGSTOP);
    return {[pid] { ::kill(static_cast<pid_t>(pid), SIGCONT); }};
}

// Mousepad, a GTK editor, on a file of its own: it shows what it holds once
// told to save.
class Editor {
public:
    Editor() {
        QFile(file_).open(QIODevice::WriteOnly);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"GSETTINGS_BACKEND"_s, u"memory"_s);
        process_.setProcessEnvironment(env);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(u"mousepad"_s, {file_});
    }
    ~Editor() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    Editor(const Editor&) = delete;
    Editor& operator=(const Editor&) = delete;

    qint64 pid() const { return process_.processId(); }
    bool focus() {
        std::optional<XWindow> window;
        return waitUntil(
                   [&] {
                       for (const XWindow& shown : x().windows(pid())) {
                           if (shown.name.endsWith(u"document.txt - Mousepad"_s)) {
                               window = shown;
                           }
                       }
                       return window.has_value();
                   },
                   20s) &&
               x().focus(window->id);
    }
    QString text() {
        x().chord({"Control_L", "s"});
        QFile file(file_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

private:
    QTemporaryDir dir_;
    QString file_ = dir_.filePath(u"document.txt"_s);
    QProcess process_;
};

// Puts the layout back whatever happens: the X server is shared by the tests.
struct Layout {
    explicit Layout(const QString& name) { set(name); }
    ~Layout() { set(u"us"_s); }
    static void set(const QString& name) { QProcess::execute(u"setxkbmap"_s, {name}); }
};

// xterm as installed has no key that pastes the clipboard: the line is typed,
// every character, also one the layout lacks. sakura (a VTE terminal) pastes
// with Control+Shift+V; Control+V would reach its shell as a ^V. GUI Emacs
// scrolls with Control+V and yanks the clipboard with Shift+Insert.
TEST(ApplicationTest, EachGetsTheLineTheWayItTakesIt) {
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    Application xterm = startXterm();
    Application sakura(u"sakura"_s, [](const QString& file) {
        return QStringList{u"-e"_s, u"sh -c \"%1\""_s.arg(catInto(file))};
    });
    // Every change of its buffer goes to the file.
    Application emacs(u"emacs"_s, [](const QString& file) {
        return QStringList{u"-Q"_s, u"--eval"_s,
                           uR"((progn (switch-to-buffer "paste")
                       (add-hook 'after-change-functions
                                 (lambda (&rest _) (write-region nil nil "%1" nil 'silent)) nil t)
                       (write-region "" nil "%1" nil 'silent)))"_s.arg(file)};
    });
    const QByteArray copied =
        "  Zwölf € tab\there @ ünï  \nzweite Zeile\nVTE: é¼\none\ntwo\nthree\n";
    ASSERT_TRUE(copy(copied));

    ASSERT_TRUE(xterm.focus());
    {
        // A layout with z and y swapped, @ on AltGr and no € of its own at level 1 or 2.
        const Layout german(u"de"_s);
        x().chord(kDefaultChord);
        EXPECT_TRUE(xterm.waitForText(u"Zwölf € tab\there @ ünï"_s)) << xterm.text().toStdString();
    }
    x().chord(kDefaultChord);
    EXPECT_TRUE(xterm.waitForText(u"Zwölf € tab\there @ ünïzweite Zeile"_s))
        << xterm.text().toStdString();

    ASSERT_TRUE(sakura.focus());
    x().chord(kDefaultChord);
    EXPECT_TRUE(sakura.waitForText(u"VTE: é¼"_s)) << sakura.text().toStdString();

    ASSERT_TRUE(emacs.focus());
    for (const QString& expected : {u"one"_s, u"onetwo"_s, u"onetwothree"_s}) {
        x().chord(kDefaultChord);
        EXPECT_TRUE(emacs.waitForText(expected)) << emacs.text().toStdString();
    }
    EXPECT_TRUE(waitUntil([&] { return clipboardData() == copied; }, 5s)) << "the copy is put back";
}

// A client reads a key with the mapping it holds when it gets to the event:
// keys lent to characters the layout lacks stay until the application has
// read them (xterm redraws a pixel when asked, Qt answers a ping), however
// long it is stopped; the Chinese line has more of them than the server has
// spare keys. A long line goes chord by chord, each under a grab of its own:
// another program's request is answered in between, also while Quillet is
// stopped. The map is as it was after.
TEST(TypingTest, EveryCharacterArrivesWhoeverIsStoppedAndTheMapComesBack) {
    Program quillet;
    quillet.store({{u"pasteByTyping"_s, u"quillet_target"_s}});
    ASSERT_TRUE(quillet.start()) << quillet.error();
    Application xterm = startXterm();
    TargetWindow qt;
    ASSERT_TRUE(xterm.focus());
    const auto map = x().keyboardMapping();
    QString longLine = u"Start"_s;
    while (longLine.size() < 10'000) {
        longLine += u" Grüße aus Köln, 5 € 中文"_s;
    }
    const QString chinese = u"静夜思：床前明月光，疑是地上霜。举头望明月，低头思故乡。"_s;
    const QStringList lines{u"Grüße aus Köln: … 5 €"_s, chinese, longLine, chinese};
    ASSERT_TRUE(copy(lines.join(u'\n').toUtf8()));
    const auto pressFrozen = [](qint64 pid, auto& application, const QString& expected) {
        {
            const OnExit frozen = stopped(pid);
            x().chord(kDefaultChord);
            runFor(500ms);
        }
        EXPECT_TRUE(application.waitForText(expected)) << application.text().toStdString();
    };
    pressFrozen(xterm.pid(), xterm, lines[0]);
    pressFrozen(xterm.pid(), xterm, lines[0] + chinese);

    XClient other;
    x().chord(kDefaultChord);
    // The line's first keys as the server hands them out; not the shortcut's.
    other.watchKeys(xterm.window());
    ASSERT_TRUE(waitUntil([&] { return other.keys().all > 0; }, 10s));
    {
        const OnExit stop = stopped(quillet.pid());
        EXPECT_TRUE(other.answers(5s)) << "the server waits for a stopped Quillet";
    }
    EXPECT_TRUE(xterm.waitForText(lines.mid(0, 3).join(QString()), 60s))
        << xterm.text().right(99).toStdString();
    EXPECT_GT(other.keys().afterAnswer, 0) << "the line's keys all came before the answer";

    ASSERT_TRUE(qt.focus());
    pressFrozen(qt.pid(), qt, chinese);
    EXPECT_TRUE(waitUntil([&] { return x().keyboardMapping() == map; }, 10s));
}

// A target busy right after the press (frozen here) asks for the line only
// once the put-back would be due: it still gets the line, once, and the Enter
// after it, in a VTE terminal, a GTK editor and a Qt field.
TEST(BusyTargetTest, AFrozenTargetGetsEachLineOnceAndThenItsEnter) {
    Program quillet;
    quillet.store({{u"afterEachLine"_s, u"enter"_s}});
    ASSERT_TRUE(quillet.start()) << quillet.error();
    TargetWindow field;
    Application sakura(u"sakura"_s, [](const QString& file) {
        return QStringList{u"-e"_s, u"sh -c \"%1\""_s.arg(catInto(file))};
    });
    Editor mousepad;
    ASSERT_TRUE(field.started());
    const struct {
        std::function<bool()> focus;
        std::function<QString()> text;
        qint64 pid;
        QChar enter;  // as the target records it
    } targets[] = {
        {[&] { return field.focus(); }, [&] { return field.text(); }, field.pid(), u'\n'},
        {[&] { return sakura.focus(); }, [&] { return sakura.text(); }, sakura.pid(), u'\r'},
        {[&] { return mousepad.focus(); }, [&] { return mousepad.text(); }, mousepad.pid(), u'\n'},
    };
    QByteArray list;
    for (int i = 1; i <= 12; ++i) {
        list += "line " + QByteArray::number(i) + '\n';
    }
    ASSERT_TRUE(copy(list));
    int line = 0;
    for (const auto& target : targets) {
        ASSERT_TRUE(target.focus());
        QString expected;
        for (const auto freeze : {150ms, 300ms, 450ms, 600ms}) {
            x().chord(kDefaultChord);
            {
                const OnExit frozen = stopped(target.pid);
                runFor(freeze);
            }
            expected += u"line %1"_s.arg(++line) + target.enter;
            EXPECT_TRUE(quillet.waitForIndex(line))
                << "line " << line << " was not counted as pasted";
        }
        EXPECT_TRUE(waitUntil([&] { return target.text() == expected; }, 10s))
            << target.text().toStdString();
    }
}

// zenity's GTK form prints what it holds.
TEST(FormTest, TabAfterEachLineFillsAFormFieldByField) {
    Program quillet;
    quillet.store({{u"afterEachLine"_s, u"tab"_s}});
    ASSERT_TRUE(quillet.start()) << quillet.error();
    QProcess form;
    form.start(u"zenity"_s, {u"--forms"_s, u"--title=Quillet form"_s, u"--add-entry=Name"_s,
                             u"--add-entry=City"_s, u"--add-entry=Country"_s});
    const auto window = x().waitForWindow(form.processId(), u"Quillet form"_s, false, 20s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(x().focus(window->id));
    ASSERT_TRUE(copy("Ada Lovelace\n\nLondon\n  United Kingdom \n"));
    for (int line = 1; line <= 3; ++line) {
        x().chord(kDefaultChord);
        // The next press waits for this one; the stored index says it is done.
        ASSERT_TRUE(quillet.waitForIndex(line));
    }
    // The last Tab went to the first button, Cancel; the next one is OK.
    x().chord({"Tab"});
    x().chord({"Return"});
    ASSERT_TRUE(form.waitForFinished(10000));
    EXPECT_EQ(form.exitCode(), 0);
    EXPECT_EQ(form.readAllStandardOutput(), "Ada Lovelace|London|United Kingdom\n");
}

// A notification service on a session bus of the test's own: it records
// what it is asked to show.
class NotificationService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;

public Q_SLOTS:
    uint Notify(const QString& /*app*/, uint /*replaces*/, const QString& /*icon*/,
                const QString& summary, const QString& body, const QStringList& /*actions*/,
                const QVariantMap& /*hints*/, int /*timeout*/) {
        shown.append(summary + u": "_s + body);
        return static_cast<uint>(shown.size());
    }
};

// Serves the notifications on the bus until the service goes.
bool serve(const SessionBus& bus, NotificationService& service) {
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), u"notices"_s);
    QObject::connect(&service, &QObject::destroyed,
                     [] { QDBusConnection::disconnectFromBus(u"notices"_s); });
    return connection.registerService(u"org.freedesktop.Notifications"_s) &&
           connection.registerObject(u"/org/freedesktop/Notifications"_s, &service,
                                     QDBusConnection::ExportAllSlots);
}

class NoticeTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(target_.started()); }
    void press(const QString& expected) {
        x().chord(kDefaultChord);
        EXPECT_TRUE(target_.waitForText(expected)) << target_.text().toStdString();
    }

    TargetWindow target_;
};

// Without a notification service the notice window behaves like one: in a
// corner of the screen, the focus left where it was, gone by itself. While
// it shows the next press pastes at once; nothing waits, nothing comes later.
TEST_F(NoticeTest, ANoticeWindowSitsInACornerHoldsNoPressBackAndGoesByItself) {
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    ASSERT_TRUE(copy("only\n"));
    press(u"only"_s);
    x().chord(kDefaultChord);
    std::optional<XWindow> notice;
    ASSERT_TRUE(waitUntil([&] { return (notice = x().notice(quillet.pid())).has_value(); }, 10s));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_LT(screen.right() - notice->geometry.right(), 50);
    EXPECT_LT(screen.bottom() - notice->geometry.bottom(), 50);
    EXPECT_EQ(x().focusedWindow(), target_.window());
    press(u"onlyonly"_s);
    EXPECT_TRUE(x().notice(quillet.pid()).has_value());
    EXPECT_TRUE(waitUntil([&] { return !x().notice(quillet.pid()); }, 20s)) << "still open";
    EXPECT_EQ(x().focusedWindow(), target_.window());
    EXPECT_EQ(target_.text(), u"onlyonly"_s) << "nothing is replayed";
}

// With a notification service the notices go there, in the user's language;
// a line that no application took is told, and comes again next time.
TEST_F(NoticeTest, NoticesGoToTheNotificationServiceAndALineNobodyTookComesAgain) {
    SessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty());
    NotificationService service;
    ASSERT_TRUE(serve(bus, service));
    Program quillet;
    quillet.setEnvironment(u"DBUS_SESSION_BUS_ADDRESS"_s, bus.address());
    ASSERT_TRUE(quillet.start()) << quillet.error();

    ASSERT_TRUE(copy("first\nsecond\n"));
    ASSERT_TRUE(x().focus(x().root()));
    x().chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return !service.shown.isEmpty(); }, 10s));
    EXPECT_TRUE(service.shown.front().startsWith(u"Quillet: No application took the line"_s))
        << service.shown.front().toStdString();

    ASSERT_TRUE(target_.focus());
    press(u"first"_s);
    press(u"firstsecond"_s);
    x().chord(kDefaultChord);
    ASSERT_TRUE(waitUntil([&] { return service.shown.size() == 2; }, 10s));
    EXPECT_EQ(service.shown.back(), u"Quillet: All lines pasted!"_s);
    EXPECT_FALSE(x().notice(quillet.pid()).has_value()) << "no window of its own";
}

// Presses faster than a step queue up.
TEST_F(NoticeTest, ABurstIntoAListOfFiftyThousandLinesKeepsItsOrder) {
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    QByteArray list;
    for (int i = 0; i < 50'000; ++i) {
        list += "entry " + QByteArray::number(i) + " with some words to make it longer\n";
    }
    ASSERT_TRUE(copy(list));
    QString expected;
    for (int i = 0; i < 10; ++i) {
        x().chord(kDefaultChord);
        expected += u"entry %1 with some words to make it longer"_s.arg(i);
        runFor(60ms);
    }
    EXPECT_TRUE(target_.waitForText(expected, 30s)) << target_.text().right(200).toStdString();
    EXPECT_TRUE(quillet.waitForIndex(10));
}

// A window manager that takes Super (IceWM does) holds the whole keyboard
// while it is down: the shortcut never arrives, and the program says so.
TEST(KeyboardHeldTest, AShortcutThatNeverArrivesIsToldAbout) {
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    XClient windowManager;
    constexpr std::uint16_t kAnyModifier = 1U << 15;
    ASSERT_TRUE(windowManager.grabKey(kAnyModifier, "Super_L"));
    x().chord(kDefaultChord);
    EXPECT_TRUE(quillet.waitForOutput("another program held the keyboard"))
        << quillet.output().toStdString();
}

// While the grab holds the keyboard the server sends Quillet no raw key
// events, so keys let go then are seen only in the grab's own events.
TEST(KeyboardHeldTest, PressesLetGoInAnyOrderAreNeverTakenForIt) {
    TargetWindow target;
    ASSERT_TRUE(target.started());
    Program quillet;
    ASSERT_TRUE(quillet.start()) << quillet.error();
    // Keys let go from the back; none: xdotool's chord, all in one call.
    const std::vector<std::vector<std::string>> releases = {kDefaultChord,
                                                            {"v", "Super_L", "Alt_L", "Control_L"},
                                                            {"v", "Control_L", "Alt_L", "Super_L"},
                                                            {}};
    QByteArray list;
    for (int i = 0; i < 10; ++i) {
        list += "line " + QByteArray::number(i) + "\n";
    }
    ASSERT_TRUE(copy(list));
    QString expected;
    for (std::size_t i = 0; i < 10; ++i) {
        if (const auto& release = releases[i % releases.size()]; release.empty()) {
            QProcess::execute(u"xdotool"_s, {u"key"_s, u"ctrl+alt+super+v"_s});
        } else {
            x().down(kDefaultChord);
            x().up(release);
        }
        expected += u"line %1"_s.arg(i);
        ASSERT_TRUE(target.waitForText(expected)) << i << ": " << target.text().toStdString();
    }
    EXPECT_FALSE(quillet.waitForOutput("another program held the keyboard", 1s))
        << quillet.output().toStdString();
}

}  // namespace
}  // namespace quillet::harness

#include "delivery_e2e_test.moc"
