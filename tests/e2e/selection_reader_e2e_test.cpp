// Reading the clipboard on a connection of its own, from owners of every
// kind: other programs, this process's own Qt, nobody, and one that hangs.

#include "platform/clipboard_x11.h"
#include "platform/selection_reader_x11.h"
#include "x_session.h"

#include <gtest/gtest.h>

#include <future>

namespace quillet::e2e {
namespace {

using namespace Qt::StringLiterals;
using Status = ClipboardRead::Status;

// Reads on a worker while this thread keeps serving the clipboard, as the
// program does: the owner may be this very process.
ClipboardRead readOnWorker(SelectionReaderX11& reader) {
    auto result = std::async(std::launch::async, [&] { return reader.read(); });
    waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 30s);
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
    QUILLET_REQUIRE_DISPLAY();
    SelectionReaderX11 reader;

    xclipWrite(u"一行\nzwei\n"_s.toUtf8());
    ClipboardRead read = reader.read();
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"一行\nzwei\n"_s);

    // An owner that only speaks Latin-1.
    xclipWrite("caf\xe9", u"STRING"_s);
    read = reader.read();
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"café"_s);

    const QByteArray png("\x89PNG\r\n\x1a\n\0\x01\xff", 11);
    xclipWrite(png, u"image/png"_s);
    read = reader.read();
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_TRUE(read.content.text.isEmpty());
    ASSERT_EQ(read.content.formats.size(), 1U);
    EXPECT_EQ(formatOf(read.content, u"image/png"_s), png);

    // Larger than one property can carry: the owner hands it over in pieces.
    QByteArray big;
    for (int i = 0; big.size() < 24 * 1024 * 1024; ++i) {
        big += "line " + QByteArray::number(i) + "\n";
    }
    xclipWrite(big);
    read = reader.read();
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text.size(), big.size());
    EXPECT_EQ(read.content.text.toUtf8(), big);
}

TEST(SelectionReaderTest, ReadsWhatThisProcessOwnsAsItWasPutBack) {
    QUILLET_REQUIRE_DISPLAY();
    ClipboardX11 clipboard;
    SelectionReaderX11 reader;
    clipboard.writeLine(u"secret line"_s);
    ClipboardRead read = readOnWorker(reader);
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"secret line"_s);
    // Putting it back must keep history managers away from it again.
    EXPECT_EQ(formatOf(read.content, u"x-kde-passwordManagerHint"_s), "secret"_ba);

    // What we put back is then read from memory: it must be what another
    // program gets from the server.
    const ClipboardContent copied{u"a\nb"_s,
                                  {{u"text/plain"_s, "a\nb"_ba}, {u"text/html"_s, "<p>a</p>"_ba}}};
    clipboard.restore(copied);
    read = readOnWorker(reader);
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content, copied);
    EXPECT_EQ(clipboard.read().content, copied);
}

TEST(SelectionReaderTest, GivesUpOnSilenceAndOnTooMuchThenReadsAgain) {
    QUILLET_REQUIRE_DISPLAY();
    SelectionReaderX11 reader(SelectionReaderX11::Limits{500ms, 60s, 1024 * 1024});
    {
        const SilentClipboardOwner silent;
        ASSERT_TRUE(silent.owning());
        EXPECT_EQ(reader.read().status, Status::NoAnswer);
    }
    // Nobody owns it now: an empty clipboard, not a failure.
    ClipboardRead read = reader.read();
    EXPECT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content, ClipboardContent{});

    xclipWrite(QByteArray(2 * 1024 * 1024, 'x'));
    read = reader.read();
    EXPECT_EQ(read.status, Status::TooLarge);
    EXPECT_EQ(read.content, ClipboardContent{});

    xclipWrite("small\n");
    read = reader.read();
    ASSERT_EQ(read.status, Status::Read);
    EXPECT_EQ(read.content.text, u"small\n"_s);
}

// Quitting must not wait out an owner that never answers.
TEST(SelectionReaderTest, ACancelEndsAWaitingReadAndEveryLaterOne) {
    QUILLET_REQUIRE_DISPLAY();
    SelectionReaderX11 reader(SelectionReaderX11::Limits{60s, 60s, kClipboardReadLimit});
    SilentClipboardOwner silent;
    ASSERT_TRUE(silent.owning());
    auto result = std::async(std::launch::async, [&] { return reader.read(); });
    ASSERT_TRUE(waitUntil([&] { return silent.requestPending(); }, 10s));
    reader.cancel();
    // Far sooner than the minute the read would otherwise wait.
    ASSERT_TRUE(waitUntil([&] { return result.wait_for(0s) == std::future_status::ready; }, 10s));
    EXPECT_EQ(result.get().status, Status::NoAnswer);
    EXPECT_EQ(reader.read().status, Status::NoAnswer);
}

}  // namespace
}  // namespace quillet::e2e
