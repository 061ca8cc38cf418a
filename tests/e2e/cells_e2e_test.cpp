// Paste Cells on a real X server.

#include "core/lines.h"
#include "x_harness.h"

#include <gtest/gtest.h>

namespace quillet::harness {
namespace {

using namespace Qt::StringLiterals;

// Three rows of four cells, one of them empty, and a quoted cell.
QByteArray range(const QByteArray& quoted) {
    return "Ada Lovelace\tLondon\tUnited Kingdom\t1815\n"
           "Grace Hopper\tNew York\t\t1906\n"
           "Alan Turing\t" +
           quoted + "\tUnited Kingdom\t1912\n";
}

// Quillet pasting cells, with Enter after each row.
class CellsTest : public testing::Test {
protected:
    void SetUp() override {
        quillet_.store({{u"pasteCells"_s, true}, {u"afterEachLine"_s, u"enter"_s}});
        ASSERT_TRUE(quillet_.start()) << quillet_.error();
    }
    // Twelve presses, each waited for: the stored cursor says it is done.
    void pressForEachCell() {
        for (int cell = 1; cell <= 12; ++cell) {
            x().chord(kDefaultChord);
            ASSERT_TRUE(quillet_.waitForIndex(cell)) << cell;
        }
    }

    Program quillet_;
};

TEST_F(CellsTest, ARangeFillsAFormOfFourFieldsRowByRow) {
    TargetWindow form(TargetWindow::Home::OwnProcess, 4);
    ASSERT_TRUE(form.started());
    ASSERT_TRUE(copy(range("\"Maida Vale\tLondon\"")));
    pressForEachCell();
    EXPECT_TRUE(
        form.waitForText(u"Ada Lovelace|London|United Kingdom|1815\n"
                         "Grace Hopper|New York||1906\n"
                         "Alan Turing|Maida Vale\tLondon|United Kingdom|1912\n"_s))
        << form.text().toStdString();
}

// Enter after a row's Tabs takes Calc to the next row's first column; the
// empty cell's Tab alone passes it. Calc reads each cell twice per paste, so
// this also holds the line on the clipboard until the second read. (Calc
// splits a pasted cell at a tab, so the quoted cell holds quotes here.)
TEST_F(CellsTest, LibreOfficeCalcGetsTheSameGrid) {
    QTemporaryDir profile;
    const QString program = u"/usr/lib/libreoffice/program/soffice.bin"_s;
    const QString user = u"-env:UserInstallation=file://"_s + profile.path();
    // The profile first: a first start in a new one ends and asks to be started again.
    QProcess calc;
    calc.start(program, {user, u"--terminate_after_init"_s});
    ASSERT_TRUE(calc.waitForFinished(60000));
    calc.start(program, {user, u"--calc"_s, u"--norestore"_s, u"--nologo"_s, u"--nolockcheck"_s});
    const auto window =
        x().waitForWindow(calc.processId(), u"Untitled 1 - LibreOffice Calc"_s, false, 60s);
    ASSERT_TRUE(window);
    ASSERT_TRUE(x().focus(window->id));
    const QByteArray copied = range("\"Bletchley \"\"Park\"\"\"");
    ASSERT_TRUE(copy(copied));
    pressForEachCell();

    // Read back as Calc copies the range.
    x().chord({"Control_L", "Home"});
    for (const char* key : {"Right", "Right", "Right", "Down", "Down"}) {
        x().chord({"Shift_L", key});
    }
    x().chord({"Control_L", "c"});
    QByteArray grid;
    EXPECT_TRUE(waitUntil(
        [&] {
            grid = clipboardData();
            return buildCells(QString::fromUtf8(grid)) == buildCells(QString::fromUtf8(copied));
        },
        10s))
        << grid.toStdString();
    calc.kill();
    calc.waitForFinished();
}

}  // namespace
}  // namespace quillet::harness
