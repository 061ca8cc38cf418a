// The X11 clipboard, and a line delivered through it, in this process.

#include "paste/paste_injector.h"
#include "in_memory_settings_store.h"
#include "platform/x11/active_window_x11.h"
#include "platform/x11/clipboard_x11.h"
#include "platform/x11/connection.h"
#include "platform/x11/paste_keystroke_x11.h"
#include "platform/x11/selection_reader_x11.h"
#include "x_harness.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;
using Status = ClipboardRead::Status;

// Runs on a worker, as the program does, while this thread serves the UI
// side (and the clipboard, when this process owns it).
template <typename Work>
auto onWorker(Work work) {
    auto result = std::async(std::launch::async, std::move(work));
    waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 60s);
    return result.get();
}

QByteArray formatOf(const ClipboardContent& content, const QString& name) {
    for (const auto& [format, bytes] : content.formats) {
        if (format == name) {
            return bytes;
        }
    }
    return "<absent>"_ba;
}

TEST(SelectionReaderTest, ReadsTheTextAndEveryFormatOfAnotherProgram) {
    SelectionReaderX11 reader;
    const auto read = [&](const QByteArray& data, const QString& type) {
        EXPECT_TRUE(copy(data, type));
        const ClipboardRead result = reader.read();
        EXPECT_EQ(result.status, Status::Read);
        return result.content;
    };
    EXPECT_EQ(read(u"一行\nzwei\n"_s.toUtf8(), u"UTF8_STRING"_s).text, u"一行\nzwei\n"_s);
    // An owner that only speaks Latin-1.
    EXPECT_EQ(read("caf\xe9", u"STRING"_s).text, u"café"_s);

    const QByteArray png("\x89PNG\r\n\x1a\n\0\x01\xff", 11);
    const ClipboardContent image = read(png, u"image/png"_s);
    EXPECT_TRUE(image.text.isEmpty());
    EXPECT_EQ(image.formats.size(), 1U);
    EXPECT_EQ(formatOf(image, u"image/png"_s), png);

    // More than one property carries: the owner hands it over in pieces.
    QByteArray big;
    for (int i = 0; big.size() < 24 * 1024 * 1024; ++i) {
        big += "line " + QByteArray::number(i) + "\n";
    }
    EXPECT_EQ(read(big, u"UTF8_STRING"_s).text.toUtf8(), big);
}

// What we own is served by our own UI thread; what we put back is then read
// from memory and must be what other programs get from the server.
TEST(SelectionReaderTest, ReadsWhatThisProcessPutThereAsOthersSeeIt) {
    ClipboardX11 clipboard;
    SelectionReaderX11 reader;
    ASSERT_TRUE(onWorker([&] { return clipboard.writeLine(u"secret line"_s); }));
    ClipboardRead read = onWorker([&] { return reader.read(); });
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"secret line"_s);
    // Clipboard histories skip a line marked like a password, or hidden.
    EXPECT_EQ(clipboardData(u"x-kde-passwordManagerHint"_s), "secret");
    EXPECT_EQ(clipboardData(u"application/x-copyq-hidden"_s), "1");

    const ClipboardContent copied{u"a\nb"_s,
                                  {{u"UTF8_STRING"_s, "a\nb"_ba},
                                   {u"text/plain"_s, "a\nb"_ba},
                                   {u"text/html"_s, "<p>a</p>"_ba}}};
    ASSERT_TRUE(onWorker([&] { return clipboard.restore(copied); }));
    read = onWorker([&] { return reader.read(); });
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content, copied);
    read = clipboard.read();
    EXPECT_TRUE(read.putBack);
    EXPECT_EQ(read.content, copied);
    EXPECT_EQ(clipboardData(u"text/html"_s), "<p>a</p>");

    // Another program copies: its copy is read, not what we put back.
    ASSERT_TRUE(copy("theirs"));
    read = clipboard.read();
    EXPECT_FALSE(read.putBack);
    EXPECT_EQ(read.content.text, u"theirs");

    // A copy made while the line was out is the newest and stays; a manager
    // that took the line over gets the old copy back.
    for (const QByteArray& meanwhile : {"newer"_ba, "secret line"_ba}) {
        ASSERT_TRUE(onWorker([&] { return clipboard.writeLine(u"secret line"_s); }));
        ASSERT_TRUE(copy(meanwhile));
        ASSERT_TRUE(onWorker([&] { return clipboard.restore(copied); }));
        EXPECT_EQ(clipboardData(), meanwhile == "newer" ? "newer"_ba : "a\nb"_ba);
    }
}

TEST(SelectionReaderTest, GivesUpOnSilenceAndOnTooMuchThenReadsAgain) {
    SelectionReaderX11 reader(SelectionReaderX11::Limits{500ms, 1024 * 1024});
    {
        XClient silent;
        ASSERT_TRUE(silent.takeClipboard());
        EXPECT_EQ(reader.read().status, Status::NoAnswer);
    }
    // Nobody owns it now: an empty clipboard, not a failure.
    ClipboardRead read = reader.read();
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content, ClipboardContent{});

    ASSERT_TRUE(copy(QByteArray(2 * 1024 * 1024, 'x')));
    read = reader.read();
    EXPECT_EQ(read.status, Status::TooLarge);
    EXPECT_EQ(read.content, ClipboardContent{});

    ASSERT_TRUE(copy("small\n"));
    EXPECT_EQ(reader.read().content.text, u"small\n"_s);
}

// Another program's clipboard: a line of text at once, then `formats` more
// formats, each answered only `delay` after it was asked for.
class SlowOwner {
public:
    SlowOwner(int formats, std::chrono::milliseconds delay)
        : formats_(formats), delay_(delay), thread_([this] { serve(); }) {
        waitUntil([&] { return owned_.load(); }, 10s);
    }
    ~SlowOwner() {
        stop_ = true;
        thread_.join();
    }
    bool owned() const { return owned_; }

private:
    void serve() {
        const x11::XcbConnection connection(xcb_connect(nullptr, nullptr));
        xcb_connection_t* c = connection.get();
        const xcb_window_t window = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window,
                          xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        std::vector<std::string> names{"CLIPBOARD", "TARGETS", "UTF8_STRING"};
        for (int i = 0; i < formats_; ++i) {
            names.push_back("text/x-slow-" + std::to_string(i));
        }
        std::vector<const char*> pointers(names.size());
        std::transform(names.begin(), names.end(), pointers.begin(),
                       std::mem_fn(&std::string::c_str));
        const std::vector<std::uint32_t> atoms = x11::internAtoms(c, pointers);
        xcb_set_selection_owner(c, window, atoms[0], XCB_CURRENT_TIME);
        xcb_flush(c);
        owned_ = true;
        while (!stop_) {
            const auto event = x11::own(xcb_poll_for_event(c));
            if (!event) {
                pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
                poll(&fd, 1, 10);
                continue;
            }
            if ((event->response_type & 0x7f) != XCB_SELECTION_REQUEST) {
                continue;
            }
            const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(*event);
            const auto at = std::find(atoms.begin(), atoms.end(), request.target);
            const auto index = at - atoms.begin();
            if (request.target == atoms[1]) {
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    XCB_ATOM_ATOM, 32, static_cast<std::uint32_t>(atoms.size() - 1),
                                    &atoms[1]);
            } else if (at != atoms.end() && index >= 2) {
                // The owner is slow: the answer goes out once the time has passed.
                const auto answerAt = Clock::now() + (index == 2 ? 0ms : delay_);
                while (Clock::now() < answerAt && !stop_) {
                    poll(nullptr, 0, 5);
                }
                const std::string data = index == 2 ? "the line\n" : names[index];
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                                    request.target, 8, static_cast<std::uint32_t>(data.size()),
                                    data.data());
            }
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request.time;
            notify.requestor = request.requestor;
            notify.selection = request.selection;
            notify.target = request.target;
            notify.property = at != atoms.end() && index >= 1 ? request.property : XCB_NONE;
            xcb_send_event(c, 0, request.requestor, 0, reinterpret_cast<const char*>(&notify));
            xcb_flush(c);
        }
    }

    const int formats_;
    const std::chrono::milliseconds delay_;
    std::atomic<bool> owned_ = false;
    std::atomic<bool> stop_ = false;
    std::thread thread_;
};

// 500 formats at 200 ms each would hold a press for 100 s: one deadline
// bounds the whole read. The text comes first; what did not come by then is
// left out, and the read says so.
TEST(SelectionReaderTest, OneDeadlineBoundsTheWholeReadAndWhatMissedItIsSaid) {
    SlowOwner owner(500, 200ms);
    ASSERT_TRUE(owner.owned());
    SelectionReaderX11 reader(SelectionReaderX11::Limits{1s, kClipboardReadLimit});
    const ClipboardRead read = onWorker([&] { return reader.read(); });
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"the line\n"_s);
    EXPECT_TRUE(read.partial);
    EXPECT_EQ(formatOf(read.content, u"text/x-slow-0"_s), "text/x-slow-0");
    EXPECT_LT(read.content.formats.size(), 100U);
}

// Quitting must not wait out an owner that never answers.
TEST(SelectionReaderTest, ACancelEndsAWaitingReadAndEveryLaterOne) {
    SelectionReaderX11 reader(SelectionReaderX11::Limits{60s, kClipboardReadLimit});
    XClient silent;
    ASSERT_TRUE(silent.takeClipboard());
    auto result = std::async(std::launch::async, [&] { return reader.read(); });
    ASSERT_TRUE(waitUntil([&] { return silent.clipboardRequested(); }, 10s));
    reader.cancel();
    // Far sooner than the minute the read would otherwise wait.
    ASSERT_TRUE(waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s));
    EXPECT_EQ(result.get().status, Status::NoAnswer);
    EXPECT_EQ(reader.read().status, Status::NoAnswer);
}

// A target that asks late names the time of its key press: it gets the line
// whatever was put back since, as long as the line counted as fetched, and
// nothing once the line went unfetched: the place was kept.
TEST(SelectionOwnerTest, ALateRequestGetsTheClipboardAsItWasAtItsTime) {
    ClipboardX11 clipboard;
    for (const bool fetched : {true, false}) {
        SCOPED_TRACE(fetched);
        ASSERT_TRUE(clipboard.writeLine(u"the line"_s));
        std::uint32_t pressed = 0;
        const QByteArray stamp = x().convertClipboard("TIMESTAMP").value_or(QByteArray());
        ASSERT_EQ(stamp.size(), 4);
        std::memcpy(&pressed, stamp.constData(), sizeof pressed);
        clipboard.arm();
        if (fetched) {
            EXPECT_EQ(x().convertClipboard("UTF8_STRING", pressed), "the line");
        }
        EXPECT_EQ(clipboard.waitForFetch(fetched ? 5s : 100ms),
                  fetched ? FetchResult::Fetched : FetchResult::NotFetched);
        ASSERT_TRUE(clipboard.restore({u"before"_s, {{u"text/html"_s, "<b>before</b>"_ba}}}));
        EXPECT_EQ(x().convertClipboard("text/plain", pressed),
                  fetched ? std::optional("the line"_ba) : std::nullopt);
        EXPECT_EQ(x().convertClipboard("UTF8_STRING"), "before");
        EXPECT_EQ(x().convertClipboard("text/html", pressed + 10'000), "<b>before</b>");
    }
}

class PasteTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(target_.started()); }

    // What another program copied, as the step reads it.
    ClipboardContent copied(const QByteArray& data, const QString& type = u"UTF8_STRING"_s) {
        EXPECT_TRUE(copy(data, type));
        const ClipboardRead read = onWorker([&] { return clipboard_.read(); });
        EXPECT_EQ(read.status, Status::Read);
        EXPECT_FALSE(read.putBack) << "the copy was taken for what the last paste put back";
        return read.content;
    }

    Delivery paste(const QString& line, const ClipboardContent& original) {
        return onWorker([&] { return injector_.paste(line, original).delivery; });
    }

    TargetWindow target_;
    // Lines longer than a piece go to the target in pieces.
    ClipboardX11 clipboard_{SelectionOwnerX11::Limits{.piece = 1024}};
    PasteKeystrokeX11 keystroke_;
    ActiveWindowX11 activeWindow_;
    InMemorySettingsStore settings_;
    PasteInjector injector_{clipboard_, keystroke_, activeWindow_, settings_};
};

TEST_F(PasteTest, DeliversTheLineByteForByteAndPutsBackWhatWasThere) {
    // An image copied in another program: not text at all.
    const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5Erk"
        "Jggg==");
    const struct {
        QString line;
        QByteArray before;
        QString type;
    } cases[] = {
        {u"plain ascii"_s, "before", u"UTF8_STRING"_s},
        {u"中文，全角标点。"_s, png, u"image/png"_s},
        {u"tab\tinside  two spaces"_s, "just text", u"UTF8_STRING"_s},
        {QString(5000, u'x') + u"end"_s, "before", u"UTF8_STRING"_s},
        // Not valid UTF-8, and a byte-order mark: no decoded text gives these back.
        {u"odd"_s,
         "\xef\xbb\xbf"
         "bom \xff\xfe\xc3( \xed\xa0\x80 end",
         u"UTF8_STRING"_s},
        {u"odd again"_s, "\xef\xbb\xbf\xc0\xaf", u"text/plain"_s},
    };
    QString expected;
    for (const auto& c : cases) {
        EXPECT_EQ(paste(c.line, copied(c.before, c.type)), Delivery::Delivered);
        expected += c.line;
        EXPECT_TRUE(target_.waitForText(expected)) << target_.text().size();
        // Read as another program would, while we serve what we put back.
        EXPECT_TRUE(waitUntil([&] { return clipboardData(c.type) == c.before; }, 10s))
            << c.type.toStdString() << " read back as \""
            << clipboardData(c.type).left(40).toStdString() << "\"; offered: "
            << clipboardData(u"TARGETS"_s).trimmed().replace('\n', ' ').toStdString() << "; owner "
            << x().clipboardOwner();
    }
}

TEST_F(PasteTest, WaitsForTheShortcutKeysToBeLetGo) {
    const ClipboardContent original = copied("before");
    // The user still holds the shortcut's modifiers when the step starts.
    const std::vector<std::string> modifiers{"Control_L", "Alt_L", "Super_L"};
    x().down(modifiers);
    auto result = std::async(std::launch::async,
                             [&] { return injector_.paste(u"held"_s, original).delivery; });
    runFor(300ms);
    x().up(modifiers);
    EXPECT_TRUE(waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s));
    EXPECT_EQ(result.get(), Delivery::Delivered);
    EXPECT_TRUE(target_.waitForText(u"held"_s));
}

TEST_F(PasteTest, ALineNobodyFetchesIsReported) {
    // Keys go nowhere: nothing asks for the clipboard.
    ASSERT_TRUE(x().focus(0));
    EXPECT_EQ(paste(u"lost"_s, copied("before")), Delivery::NotFetched);
    EXPECT_EQ(clipboardData(), "before");
    // Without a focus no key reaches a grab either: later tests need one.
    EXPECT_TRUE(target_.focus());
}

// A chord counts only with every key down: without Control in the keymap a
// bare "v" would type a v, and the line would count as pasted.
TEST_F(PasteTest, AChordMissingAKeyOfTheKeymapIsNotPosted) {
    const auto xmodmap = [](const QStringList& arguments) {
        QProcess process;
        process.start(u"xmodmap"_s, arguments);
        process.waitForFinished(10'000);
        return process.exitCode() == 0 ? process.readAllStandardOutput() : QByteArray();
    };
    QString control;
    for (const QByteArray& line : xmodmap({u"-pke"_s}).split('\n')) {
        if (line.contains(" Control_L")) {
            control = QString::fromLatin1(line);
        }
    }
    ASSERT_FALSE(control.isEmpty()) << "needs xmodmap and a Control_L key";
    xmodmap({u"-e"_s, control.section(u'=', 0, 0) + u'='});
    {
        PasteKeystrokeX11 withoutControl;  // reads the keymap as it is now
        EXPECT_FALSE(withoutControl.postPasteChord(PasteMethod::ControlV));
    }
    xmodmap({u"-e"_s, control});
    x().chord({"x"});
    EXPECT_TRUE(target_.waitForText(u"x"_s));
    EXPECT_EQ(target_.text(), u"x"_s) << "part of the chord reached the target";
}

}  // namespace
}  // namespace quillet::harness
