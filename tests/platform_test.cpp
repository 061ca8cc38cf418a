// The platform's implementations that run without a display.

#include "core/stored_value.h"
#include "platform/desktop_route.h"
#include "platform/qt/autostart_qt.h"
#include "platform/qt/instance_lock.h"
#include "platform/qt/main_queue_qt.h"
#include "platform/qt/settings_store_qt.h"
#include "platform/qt/state_file_qt.h"
#include "platform/qt/tray_icon_painter.h"
#include "platform/x11/key_translator_x11.h"
#include "platform/x11/keymap.h"
#include "platform/xkb/chord.h"
#include "platform/xkb/key_table.h"
#include "platform/xkb/keymap.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "wait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <set>
#include <thread>

// X11 headers after Qt's: they define macros that break Qt headers.
#include <X11/keysym.h>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;
using namespace modifier;
using namespace std::chrono_literals;

// QSettings fixes its folders on first use and keeps them for the life of the
// process, so the whole binary gets one config home, set before any store exists.
const QTemporaryDir& configHome() {
    static const QTemporaryDir dir;
    [[maybe_unused]] static const bool pointed =
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path()));
    return dir;
}

bool put(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(SettingsStoreQt, KeepsItsFileOwnerOnlyAndValuesApart) {
    ASSERT_TRUE(configHome().isValid());
    const QString folder = configHome().filePath(u"tarnwick"_s);
    const QString file = folder + u"/Quillet.conf"_s;
    // Never touch the user's real settings.
    ASSERT_EQ(SettingsStoreQt::filePath(), file);
    const mode_t umask = ::umask(0);
    {
        SettingsStoreQt store;
        ASSERT_TRUE(store.setString(u"k"_s, u"v"_s));
    }
    EXPECT_EQ(modeOf(folder), 0700u) << "made owner-only whatever the umask";
    // A folder that exists is the user's to set; the file is narrowed.
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    SettingsStoreQt store;
    ::umask(umask);
    EXPECT_EQ(modeOf(folder), 0755u);
    EXPECT_EQ(modeOf(file), 0600u);
    EXPECT_EQ(store.string(u"k"_s), u"v"_s) << "narrowing keeps the content";

    for (const std::int64_t value : {std::int64_t{-1}, std::int64_t{9007199254740993},
                                     std::numeric_limits<std::int64_t>::min()}) {
        ASSERT_TRUE(store.setInteger(u"n"_s, value));
        EXPECT_EQ(SettingsStoreQt().integer(u"n"_s), value);
    }
    // Data and text stay apart: text that looks like data is text, data is never an integer.
    const QByteArray binary("a\0b\n\r\xff\x01", 7);
    ASSERT_TRUE(store.setData(u"d"_s, binary));
    ASSERT_TRUE(store.setString(u"t"_s, u"@ByteArray(abc)"_s));
    ASSERT_TRUE(store.setData(u"twelve"_s, "12"_ba));
    const SettingsStoreQt again;
    EXPECT_EQ(again.data(u"d"_s), binary);
    EXPECT_EQ(again.string(u"d"_s), std::nullopt);
    EXPECT_EQ(again.string(u"t"_s), u"@ByteArray(abc)"_s);
    EXPECT_EQ(again.data(u"t"_s), std::nullopt);
    EXPECT_EQ(again.integer(u"twelve"_s), stored_value::kDamagedInteger);
    EXPECT_EQ(modeOf(file), 0600u) << "writes replace the file";

    // A list of names as a user writes it, bare or quoted, is text.
    ASSERT_TRUE(put(file, "[General]\npasteByTyping=foo,target\npasteWithControlShiftV=\"a,b\"\n"));
    EXPECT_EQ(again.string(u"pasteByTyping"_s), u"foo,target"_s);
    EXPECT_EQ(again.string(u"pasteWithControlShiftV"_s), u"a,b"_s);

    // A byte-order mark is read past, not taken for damage.
    ASSERT_TRUE(put(file, "\xEF\xBB\xBF[General]\nhotkeyCode=11\n"));
    EXPECT_EQ(SettingsStoreQt().integer(u"hotkeyCode"_s), 11);
    EXPECT_EQ(QDir(folder).entryList({u"*.bad-*"_s}), QStringList());
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
}

TEST(StateFileQt, KeepsTheRunOwnerOnlyAndRewritesBytesInPlace) {
    const QTemporaryDir stateHome;
    // Folders it makes are owner-only whatever the umask, parents included.
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.filePath(u"a/b"_s)));
    const QString file = stateHome.filePath(u"a/b/tarnwick/Quillet.json"_s);
    ASSERT_EQ(StateFileQt::filePath(), file);
    const mode_t umask = ::umask(0);
    StateFileQt state;
    EXPECT_EQ(state.read(), std::nullopt);
    ASSERT_TRUE(state.write("{\"currentIndex\":1   }"_ba));
    ::umask(umask);
    for (const QString& folder : {u"a"_s, u"a/b"_s, u"a/b/tarnwick"_s}) {
        EXPECT_EQ(modeOf(stateHome.filePath(folder)), 0700u) << folder.toStdString();
    }
    EXPECT_EQ(modeOf(file), 0600u);
    ASSERT_TRUE(state.overwrite(16, "12  "_ba));
    EXPECT_EQ(state.read(), "{\"currentIndex\":12  }"_ba);
    EXPECT_EQ(state.refusal(), StateRefusal::None);
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_FALSE(state.overwrite(16, "3"_ba)) << "no file to rewrite";
    EXPECT_EQ(state.refusal(), StateRefusal::None);
    EXPECT_EQ(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    qunsetenv("XDG_STATE_HOME");
}

// Whatever is planted where the file goes, nothing is followed, blocked on or
// read without end; each call says why, and once it is gone the file works
// again. That a link to the user's file leaves it alone, HostileFilesTest shows.
TEST(StateFileQt, LeavesAloneWhatIsNoPlainFileOfTheUsersInAFolderOfTheirs) {
    const QTemporaryDir stateHome;
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome.path()));
    StateFileQt state;
    const QString file = StateFileQt::filePath();
    const QByteArray name = QFile::encodeName(file);
    const auto expectRefused = [&](StateRefusal why, const char* what) {
        EXPECT_EQ(state.read(), std::nullopt) << what;
        EXPECT_EQ(state.refusal(), why) << what;
        EXPECT_FALSE(state.write("{}"_ba)) << what;
        EXPECT_EQ(state.refusal(), why) << what;
        EXPECT_FALSE(state.overwrite(0, "1"_ba)) << what;
    };

    ASSERT_TRUE(QFile::link(u"/dev/zero"_s, file));
    expectRefused(StateRefusal::NotAFile, "a link to a device");
    ASSERT_TRUE(QFile::remove(file));

    // A reader the test has to let through is one that blocked.
    ASSERT_EQ(::mkfifo(name.constData(), 0600), 0);
    std::atomic<bool> done = false;
    std::atomic<bool> unblocked = false;
    std::thread rescue([&] {
        if (!harness::waitUntil([&] { return done.load(); }, 5s)) {
            unblocked = true;
            while (!done) {
                const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
                std::this_thread::sleep_for(10ms);
            }
        }
    });
    expectRefused(StateRefusal::NotAFile, "a pipe");
    done = true;
    rescue.join();
    EXPECT_FALSE(unblocked) << "a call waited on the pipe";
    ASSERT_TRUE(QFile::remove(file));

    // Sparse: no disk is used, and none of it may be read.
    {
        QFile huge(file);
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly));
        ASSERT_TRUE(huge.resize(kStateFileLimit + 1));
    }
    expectRefused(StateRefusal::TooLarge, "a file over the limit");
    ASSERT_TRUE(QFile::remove(file));

    const QByteArray folder = QFile::encodeName(QFileInfo(file).path());
    ASSERT_EQ(::chmod(folder.constData(), 0770), 0);
    expectRefused(StateRefusal::SharedFolder, "a folder others may write to");
    ASSERT_EQ(::chmod(folder.constData(), 0755), 0);

    ASSERT_TRUE(state.write("{\"currentIndex\":1   }"_ba));
    EXPECT_EQ(state.refusal(), StateRefusal::None);
    EXPECT_EQ(state.read(), "{\"currentIndex\":1   }"_ba);
    qunsetenv("XDG_STATE_HOME");
}

// One copy at a time, through an flock that old and new versions share; a
// planted link or pipe is refused at once, and the file is the owner's only.
TEST(InstanceLock, KeepsASecondCopyOutAndRefusesWhatIsNoPlainFile) {
    const QTemporaryDir folder;
    const QString path = folder.filePath(u"Quillet.lock"_s);
    const mode_t umask = ::umask(0);
    {
        const InstanceLock first(path);
        ::umask(umask);
        EXPECT_EQ(first.status(), InstanceLock::Status::Held);
        EXPECT_EQ(modeOf(path), 0600u);
    }
    // A second copy kept out, and a restart: ASecondCopyStepsAside and every restart.
    ASSERT_TRUE(QFile::remove(path));

    const QString elsewhere = folder.filePath(u"elsewhere"_s);
    ASSERT_TRUE(QFile::link(elsewhere, path));
    const InstanceLock linked(path);
    EXPECT_EQ(linked.status(), InstanceLock::Status::Refused);
    EXPECT_FALSE(linked.problem().isEmpty());
    EXPECT_FALSE(QFile::exists(elsewhere)) << "nothing made through the link";
    ASSERT_TRUE(QFile::remove(path));

    // Nor is a pipe a lock.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    EXPECT_EQ(InstanceLock(path).status(), InstanceLock::Status::Refused);
}

TEST(AutostartQt, WritesAnEntryThatStartsTheProgramRemovesItAndHonoursTheUsersSwitch) {
    ASSERT_TRUE(configHome().isValid());
    const QString folder = configHome().filePath(u"autostart"_s);
    const QString file = folder + u"/org.tarnwick.Quillet.desktop"_s;
    ASSERT_EQ(AutostartQt::filePath(), file);
    AutostartQt autostart(u"/opt/my apps/quillet"_s);
    EXPECT_FALSE(autostart.enabled());
    EXPECT_EQ(autostart.setEnabled(false), QString()) << "nothing to remove is no failure";
    ASSERT_EQ(autostart.setEnabled(true), QString());
    EXPECT_TRUE(autostart.enabled());
    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = written.readAll().split('\n');
    EXPECT_EQ(lines.front(), "[Desktop Entry]");
    EXPECT_TRUE(lines.contains("Type=Application"));
    EXPECT_TRUE(lines.contains("Exec=\"/opt/my apps/quillet\""));
    ASSERT_EQ(autostart.setEnabled(false), QString());
    EXPECT_FALSE(QFile::exists(file));

    // An entry the user switched off is off; a Hidden key of another group is not its own.
    for (const QByteArray& off : {"Hidden=true"_ba, "X-GNOME-Autostart-enabled=false"_ba}) {
        ASSERT_TRUE(put(file, "[Desktop Entry]\nType=Application\nExec=quillet\n"_ba + off + '\n'));
        EXPECT_FALSE(autostart.enabled()) << off.constData();
    }
    ASSERT_TRUE(put(file, "[Desktop Entry]\nExec=quillet\n[Desktop Action x]\nHidden=true\n"_ba));
    EXPECT_TRUE(autostart.enabled());
    ASSERT_TRUE(put(file, "[Desktop Entry]\nHidden = true\n"_ba));
    ASSERT_EQ(autostart.setEnabled(true), QString());
    EXPECT_TRUE(autostart.enabled()) << "turning it on replaces the switched-off entry";

    // A file where the folder should be fails even for root, and says where.
    ASSERT_TRUE(QDir(folder).removeRecursively());
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    const QString problem = autostart.setEnabled(true);
    EXPECT_TRUE(problem.startsWith(u"cannot write "_s + file + u": "_s)) << problem.toStdString();
    EXPECT_FALSE(autostart.enabled());
    ASSERT_TRUE(QFile::remove(folder));
}

TEST(AutostartQt, ExecQuotesAndEscapesWhatADesktopWouldSplitOrExpand) {
    EXPECT_EQ(AutostartQt::execValue(u"/usr/bin/quillet"_s), u"/usr/bin/quillet"_s);
    EXPECT_EQ(AutostartQt::execValue(u"/opt/100%/quillet"_s), u"/opt/100%%/quillet"_s);
    // Quoted, with \ " ` $ escaped; then every backslash doubled for the string value.
    EXPECT_EQ(AutostartQt::execValue(uR"(/home/my "apps"/$HOME/`x`/a\b)"_s),
              uR"("/home/my \\"apps\\"/\\$HOME/\\`x\\`/a\\\\b")"_s);
    EXPECT_EQ(AutostartQt::execValue(u"/tmp/a\nb c"_s), uR"("/tmp/a\nb c")"_s);
}

// A dialog's modal loop holds nothing back: tasks posted from the paste
// worker meanwhile run inside it, in order; after the shutdown none runs.
TEST(MainQueueQt, RunsTasksInOrderAlsoInsideAModalLoopAndNoneAfterShutDown) {
    MainQueueQt queue;
    std::vector<std::string> events;
    std::thread worker;
    queue.post([&] {
        events.push_back("dialog opens");
        QEventLoop modal;
        worker = std::thread([&] {
            queue.post([&] { events.push_back("worker's task"); });
            queue.post([&] { modal.quit(); });
        });
        QTimer::singleShot(10s, &modal, &QEventLoop::quit);
        modal.exec();
        events.push_back("dialog closes");
    });
    const bool done = harness::waitUntil([&] { return events.size() == 3; }, 20s);
    worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(events, (std::vector<std::string>{"dialog opens", "worker's task", "dialog closes"}));
    queue.shutDown();
    queue.post([&] { events.push_back("after shutdown"); });
    QCoreApplication::processEvents();
    EXPECT_EQ(events.size(), 3U);
}

namespace x = x11;
constexpr std::uint16_t kMod1 = 1U << 3, kMod2 = 1U << 4, kMod3 = 1U << 5, kMod4 = 1U << 6,
                        kMod5 = 1U << 7;

TEST(XkbKeys, EveryKeyCodeRoundTripsThroughItsKeysym) {
    for (int code = 0; code <= 0xFFFF; ++code) {
        const auto keyCode = static_cast<KeyCode>(code);
        const auto keysym = xkb::keysymForKeyCode(keyCode);
        // A key the program can name or record must also be grabbable.
        if (keyCodeToChar(keyCode) || !specialKeyCodeName(keyCode).isEmpty() ||
            modifierKeyCodes.contains(keyCode) || standaloneKeyCodes.contains(keyCode)) {
            EXPECT_TRUE(keysym.has_value()) << std::hex << code;
        }
        if (keysym) {
            EXPECT_EQ(xkb::keyCodeForKeysym(*keysym), keyCode) << std::hex << code;
        }
        if (const auto name = keyCodeToChar(keyCode)) {
            EXPECT_EQ(keysym, name->toLower().front().unicode()) << std::hex << code;
        }
    }
    // Shifted and keypad forms lead to the same key; other modifiers lead nowhere.
    EXPECT_EQ(xkb::keyCodeForKeysym(XK_A), 0x00);
    EXPECT_EQ(xkb::keyCodeForKeysym(XK_KP_Insert), 0x52);
    EXPECT_EQ(xkb::keyCodeForKeysym(XK_ISO_Left_Tab), 0x30);
    EXPECT_EQ(xkb::keyCodeForKeysym(XK_Meta_L), std::nullopt);
}

// The lowest level wins over the earlier layout: V on the US key in ru,us,
// not V with Shift somewhere in the first layout.
TEST(XkbKeys, FindsAKeysymOnItsLowestLevelInTheFirstLayoutThatHasIt) {
    const xkb::ContextPtr context = xkb::newContext();
    const auto keymap = [&](const char* layout, const char* variant = nullptr) {
        return xkb::keymapFromNames(context.get(), nullptr, layout, variant);
    };
    const xkb::KeymapPtr dvorak = keymap("us", "dvorak"), ruUs = keymap("ru,us"), ru = keymap("ru"),
                         usFr = keymap("us,fr");
    ASSERT_TRUE(dvorak && ruUs && ru && usFr);
    using Place = xkb::KeyPlace;
    EXPECT_EQ(xkb::findKey(dvorak.get(), XK_v), (Place{60, 0, 0}));
    EXPECT_EQ(xkb::findKey(dvorak.get(), XK_V), (Place{60, 0, 1}));
    EXPECT_EQ(xkb::findKey(ruUs.get(), XK_v), (Place{xkb::kUsV, 1, 0}));
    EXPECT_EQ(xkb::findKey(ruUs.get(), XK_A), (Place{38, 1, 1}));
    EXPECT_EQ(xkb::findKey(ru.get(), XK_v), std::nullopt);
    EXPECT_EQ(xkb::findKey(usFr.get(), XK_exclam), (Place{61, 1, 0}));
    // Asked for one layout, only that one counts.
    EXPECT_EQ(xkb::findKey(usFr.get(), XK_exclam, 0), (Place{10, 0, 1}));
    EXPECT_EQ(xkb::findKey(ruUs.get(), XK_a, 0), std::nullopt);
    EXPECT_EQ(xkb::findKey(ruUs.get(), XK_a, 7), std::nullopt);
    EXPECT_FALSE(xkb::keymapFromText(context.get(), "xkb_keymap { nonsense"));
}

// Modifiers go down before the key and come up after it; a refused press
// ends the chord, and only the keys that went down come up.
TEST(XkbChord, PressesInOrderAndLetsGoOfWhatWentDownInReverse) {
    using Stroke = xkb::KeyStroke;
    const xkb::PasteKeys keys{37, 50, 55, 118};
    EXPECT_EQ(xkb::pasteChord(PasteMethod::ControlShiftV, keys).strokes(),
              (std::vector<Stroke>{
                  {37, true}, {50, true}, {55, true}, {55, false}, {50, false}, {37, false}}));
    EXPECT_EQ(xkb::pasteChord(PasteMethod::ShiftInsert, keys).strokes().front(),
              (Stroke{50, true}));
    for (const PasteMethod method : {PasteMethod::ControlV, PasteMethod::Typing}) {
        EXPECT_EQ(xkb::pasteChord(method, keys).strokes(),
                  (std::vector<Stroke>{{37, true}, {55, true}, {55, false}, {37, false}}));
    }

    std::vector<Stroke> sent;
    const auto refuse = [&sent](std::uint32_t refused) {
        return [&sent, refused](Stroke stroke) {
            sent.push_back(stroke);
            return stroke.key != refused;
        };
    };
    EXPECT_FALSE((xkb::Chord{37, 50, 55}.play(refuse(50))));
    EXPECT_EQ(sent, (std::vector<Stroke>{{37, true}, {50, true}, {37, false}}));
    sent.clear();
    EXPECT_TRUE(xkb::Chord{23}.play(refuse(0)));
    EXPECT_EQ(sent, (std::vector<Stroke>{{23, true}, {23, false}}));
}

TEST(X11Keymap, ModifiersFromTheServersMapRoundTripThroughEveryLockCombination) {
    // Xvfb's: Alt on Mod1, NumLock on Mod2, Super on Mod4; and an odd one whose
    // Alt keys on the fixed rows don't count.
    const x::ModifierMasks xvfb = x::modifierMasksFromMap({{{XK_Shift_L},
                                                            {XK_Caps_Lock},
                                                            {XK_Control_L},
                                                            {XK_Alt_L, XK_Meta_L},
                                                            {XK_Num_Lock},
                                                            {},
                                                            {XK_Super_L, XK_Hyper_L},
                                                            {XK_ISO_Level3_Shift}}});
    const x::ModifierMasks odd = x::modifierMasksFromMap({{{XK_Shift_L, XK_Alt_L},
                                                           {XK_Caps_Lock},
                                                           {XK_Control_L},
                                                           {XK_Num_Lock},
                                                           {XK_Scroll_Lock},
                                                           {XK_Super_R},
                                                           {},
                                                           {XK_Alt_R}}});
    EXPECT_EQ(xvfb, (x::ModifierMasks{kMod1, kMod4, kMod2, 0}));
    EXPECT_EQ(odd, (x::ModifierMasks{kMod5, kMod3, kMod1, kMod2}));
    EXPECT_EQ(x::xModifiersForFlags(kCommand, {kMod1, 0, kMod2, 0}), std::nullopt);
    for (const auto& [masks, variants] : {std::pair{xvfb, 4u}, std::pair{odd, 8u}}) {
        const auto locks = x::lockVariants(masks);
        EXPECT_EQ(locks.size(), variants);
        EXPECT_EQ(std::set(locks.begin(), locks.end()).size(), variants);
        // The four shortcut bits are adjacent: this steps through every combination.
        for (ModifierFlags flags = 0; flags <= kShortcutMask; flags += kShift) {
            const auto state = x::xModifiersForFlags(flags, masks);
            ASSERT_TRUE(state.has_value()) << flags;
            for (const auto lock : locks) {
                EXPECT_EQ(x::flagsForXModifiers(*state | lock, masks), flags) << flags << lock;
            }
        }
    }
}

TEST(X11Keymap, KeyEventsReadInTheProgramsVocabulary) {
    using enum KeyEventType;
    constexpr x::ModifierMasks masks{kMod1, kMod4, kMod2, 0};
    constexpr std::uint16_t secondGroup = 1U << 13;
    const struct {
        std::vector<x::Keysym> keysyms;
        std::uint16_t ownBits, state;
        bool press;
        KeyEvent expected;
    } cases[] = {
        {{XK_f, XK_F}, 0, kMod4, true, {KeyDown, 0x03, kCommand}},
        {{XK_KP_End, XK_KP_1}, 0, x::kControlMask | kMod2, true, {KeyDown, 0x53, kControl}},
        // The second layout names the key, or the first when it has no Latin letters.
        {{XK_y, XK_Y, XK_z, XK_Z}, 0, secondGroup, true, {KeyDown, 0x06, 0}},
        {{XK_f, XK_F, XK_Cyrillic_a}, 0, secondGroup | kMod1, true, {KeyDown, 3, kOption}},
        // Super's press adds Command, its release takes it away.
        {{XK_Super_L}, kMod4, x::kControlMask, true, {FlagsChanged, 0x37, kControl | kCommand}},
        {{XK_Super_L}, kMod4, x::kControlMask | kMod4, false, {FlagsChanged, 0x37, kControl}},
        {{XK_ISO_Level3_Shift}, 0, x::kShiftMask, true, {FlagsChanged, std::nullopt, kShift}},
        {{XK_a, XK_A}, 0, x::kControlMask, true, {KeyDown, 0x00, kControl}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        const auto event = x::translateKey(c.press, c.state, {c.keysyms, c.ownBits, masks});
        ASSERT_TRUE(event.has_value()) << i;
        EXPECT_EQ(std::tie(event->type, event->keyCode, event->modifierFlags),
                  std::tie(c.expected.type, c.expected.keyCode, c.expected.modifierFlags))
            << i;
    }
    // An ordinary key's release is not watched.
    const std::vector<x::Keysym> f{XK_f, XK_F};
    EXPECT_EQ(x::translateKey(false, kMod4, {f, 0, masks}), std::nullopt);
}

TEST(X11Keymap, TypingUsesTheActiveLayoutAndSpareKeysForTheRest) {
    // Keycodes 10 to 14: a/A, b/B + Cyrillic, é only in the second group, then two spare keys.
    const std::vector<x::Keysym> keysyms = {
        XK_a, XK_A, 0, 0, XK_b, XK_B, XK_Cyrillic_be, XK_Cyrillic_BE, 0, 0, XK_eacute, 0, 0, 0,
        0,    0,    0, 0, 0,    0};
    const x::KeysymTable table{10, 4, keysyms};
    const x::TypingPlan first = x::planTyping(U"aBé€€", table, 0);
    EXPECT_EQ(first.typed, 5u);
    EXPECT_EQ(first.keys, (std::vector<x::TypedKey>{
                              {10, false}, {11, true}, {14, false}, {13, false}, {13, false}}));
    EXPECT_EQ(first.spareMaps, (std::vector<std::pair<std::uint8_t, x::Keysym>>{
                                   {14, XK_eacute}, {13, XK_EuroSign}}));
    // Neighbours are lent with one request.
    EXPECT_EQ(x::keyRuns({{14, XK_eacute}, {20, XK_a}, {13, XK_EuroSign}}),
              (std::vector<x::KeyRun>{{13, {XK_EuroSign, XK_eacute}}, {20, {XK_a}}}));
    // In the second group the Latin letters are missing; spare keys run out at the fifth.
    const x::TypingPlan second = x::planTyping(U"\u0431\u00e9abc", table, 1);
    EXPECT_EQ(second.typed, 4u);
    EXPECT_EQ(second.keys,
              (std::vector<x::TypedKey>{{11, false}, {12, false}, {14, false}, {13, false}}));
}

// Trays pack icons edge to edge; panels are dark or light.
TEST(TrayIcon, GlyphFitsItsSquareWithDarkAndLightParts) {
    for (const QSize size : {QSize(16, 16), QSize(32, 32), QSize(48, 24)}) {
        QImage image(size + QSize(8, 8), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintTrayGlyph(painter, QRectF(QPointF(4, 4), size));
        painter.end();
        const int side = std::min(size.width(), size.height());
        const QRect square(4 + (size.width() - side) / 2, 4, side, side);
        int dark = 0, light = 0, outside = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                outside += pixel.alpha() > 0 && !square.contains(x, y) ? 1 : 0;
                dark += pixel.alpha() == 255 && pixel.lightness() < 80 ? 1 : 0;
                light += pixel.alpha() == 255 && pixel.lightness() > 220 ? 1 : 0;
            }
        }
        EXPECT_EQ(outside, 0) << size.width();
        EXPECT_GT(dark, side * side / 10) << size.width();
        EXPECT_GT(light, side * side / 5) << size.width();
    }
}

}  // namespace
}  // namespace quillet

TEST(DesktopRoute, FollowsTheRunningDesktopNotWhatThePortalLists) {
    using quillet::Route;
    using Keys = Route::Keys;
    using Shortcut = Route::Shortcut;
    const auto route = [](QStringView desktop, bool dataControl, bool virtualKeyboard, bool mutter,
                          bool portalKeyboard, bool portalShortcuts) {
        return quillet::chooseRoute({true, desktop, dataControl, virtualKeyboard, mutter, false,
                                     portalKeyboard, portalShortcuts});
    };
    const Route wlroots{Route::Desktop::Wayland, Keys::VirtualKeyboard, Shortcut::UserBinds};
    // sway with xdg-desktop-portal-kde installed: the portal lists shortcuts
    // and a keyboard, the compositor's own route wins.
    EXPECT_EQ(route(u"sway", true, true, false, true, true), wlroots);
    EXPECT_EQ(route(u"", true, true, false, false, false), wlroots);
    EXPECT_EQ(route(u"river", true, true, false, false, true), wlroots);
    EXPECT_EQ(route(u"KDE", true, false, false, true, true),
              (Route{Route::Desktop::Wayland, Keys::Portal, Shortcut::Portal}));
    EXPECT_EQ(route(u"KDE", true, false, false, true, false),
              (Route{Route::Desktop::Wayland, Keys::Portal, Shortcut::UserBinds}));
    // GNOME: mutter's API, whatever the portal lists; without it, nothing works.
    const Route gnome{Route::Desktop::Gnome, Keys::Gnome, Shortcut::UserBinds};
    EXPECT_EQ(route(u"ubuntu:GNOME", false, false, true, true, true), gnome);
    EXPECT_EQ(route(u"gnome-classic:gnome", false, false, true, false, false), gnome);
    EXPECT_EQ(route(u"GNOME", false, false, false, true, true).desktop,
              Route::Desktop::Unsupported);
    EXPECT_EQ(route(u"GNOME-Flashback", false, false, true, false, false).desktop,
              Route::Desktop::Unsupported);
    // GNOME 45 and later: the portal's clipboard, where mutter's API is gone.
    EXPECT_EQ(quillet::chooseRoute({true, u"GNOME", false, false, false, true, true, false}),
              gnome);
    EXPECT_EQ(quillet::chooseRoute({false, u"GNOME", true, true, true, true, true, true}),
              (Route{Route::Desktop::X11, Keys::X11, Shortcut::X11}));
}
