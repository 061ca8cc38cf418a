// The run's window on Qt's offscreen screen.

#include "app/run_window.h"
#include "core/run_rows.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quillet {
namespace {

using namespace Qt::StringLiterals;

class RunWindowTest : public testing::Test {
protected:
    // One character a row: '+' pasted, '>' next, '.' ahead.
    QString marks() {
        const QAbstractItemModel& model = *window.list().model();
        QString shown;
        for (int row = 0; row < model.rowCount(); ++row) {
            const auto mark =
                static_cast<RowMark>(model.index(row, 0).data(RunListModel::kMarkRole).toInt());
            shown += mark == RowMark::Pasted ? u'+' : mark == RowMark::Next ? u'>' : u'.';
        }
        return shown;
    }
    int currentRow() { return window.list().currentIndex().row(); }
    bool currentOnScreen() {
        QListView& list = window.list();
        return list.viewport()->rect().contains(list.visualRect(list.currentIndex()));
    }

    std::vector<std::int64_t> chosen;
    RunWindow window{[this](std::int64_t index) { chosen.push_back(index); }};
};

// Enter chooses a line in TrayTest, which finds the window by its English title.
TEST_F(RunWindowTest, MarksTheRunAndADoubleClickChoosesALine) {
    window.setRun(AppState{{u"London"_s, u"Paris"_s, u"tab\there"_s, u"Oslo"_s}, 1, {}});
    EXPECT_FALSE(window.isVisible()) << "an update never shows it";
    EXPECT_EQ(marks(), u"+>..");
    EXPECT_EQ(currentRow(), 1);
    EXPECT_EQ(window.list().model()->index(2, 0).data().toString(), u"tab here");
    EXPECT_EQ(window.position().text(), u"2 of 4 · next: Paris");

    window.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QListView& list = window.list();
    // Qt's test mouse sends the double-click alone; a view wants the press first.
    const QPoint oslo = list.visualRect(list.model()->index(3, 0)).center();
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, oslo);
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, oslo);
    EXPECT_EQ(chosen, (std::vector<std::int64_t>{3}));
    EXPECT_EQ(marks(), u"+>..") << "the run moves, not the window";

    window.setLanguage(Language::Chinese);
    EXPECT_EQ(window.windowTitle(), u"Quillet — 列表");
    EXPECT_EQ(window.position().text(), u"第 2 行，共 4 行 · 下一行：Paris");
    QTest::keyClick(&list, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    window.setRun(AppState{{u"London"_s}, 0, {}});
    EXPECT_FALSE(window.isVisible());
}

TEST_F(RunWindowTest, FollowsTheCursorRedrawingOnlyTheRowsItPassedAndANewListReplacesTheOld) {
    QStringList many;
    for (int i = 0; i < 50'000; ++i) {
        many.append(u"line "_s + QString::number(i));
    }
    window.setRun(AppState{many, 0, {}});
    window.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QAbstractItemModel& model = *window.list().model();
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

    window.setRun(AppState{many, 40'000, {}});
    EXPECT_EQ(reset.count(), 0);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].toModelIndex().row(), 0);
    EXPECT_EQ(changed[0][1].toModelIndex().row(), 40'000);
    EXPECT_EQ(currentRow(), 40'000);
    EXPECT_TRUE(currentOnScreen());
    EXPECT_EQ(window.position().text(), u"40001 of 50000 · next: line 40000");

    window.setRun(AppState{many, 50'000, {}});
    EXPECT_EQ(currentRow(), -1);
    EXPECT_EQ(window.position().text(), u"All 50000 lines pasted");

    window.setRun(AppState{{u"x"_s, u"y"_s}, 1, {}});
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(marks(), u"+>");
    EXPECT_EQ(currentRow(), 1);
    EXPECT_TRUE(currentOnScreen());
    window.setRun(AppState{{u"x"_s, u"y"_s}, 1, {}, {0, 1}});
    EXPECT_EQ(reset.count(), 2) << "the same lines, now cells";
    EXPECT_EQ(model.index(1, 0).data().toString(), u"A2  y");
    EXPECT_EQ(window.position().text(), u"row 2, cell 1 of 1 · next: y");

    window.setRun(AppState{});
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(window.position().text(), u"No list: copy some lines");
}

}  // namespace
}  // namespace quillet
