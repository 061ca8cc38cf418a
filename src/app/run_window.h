#pragma once

#include "core/app_state.h"
#include "core/texts.h"

#include <QAbstractListModel>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QWidget>

#include <cstdint>
#include <functional>

namespace quillet {

// The run's lines (or cells, by name) as rows of a list view, computed as
// they are drawn, so that fifty thousand lines cost no more than the rows on
// screen.
class RunListModel final : public QAbstractListModel {
public:
    // The row's RowMark, as an int.
    static constexpr int kMarkRole = Qt::UserRole;

    RunListModel();

    const AppState& run() const { return run_; }
    // Other lines reset the views; a cursor that moved redraws only the rows
    // between where it was and where it is.
    void setRun(AppState run);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    AppState run_;
    QIcon pasted_;
    QIcon next_;
    QIcon ahead_;
};

// The window "Show List…" opens: where the run stands, and its lines with
// the pasted ones ticked and dimmed and the next one selected. Enter or a
// double-click on a line makes it the next one. UI thread only.
class RunWindow final : public QWidget {
public:
    // choose(index) asks for the line at index to come next.
    explicit RunWindow(std::function<void(std::int64_t index)> choose);

    // Follows the run without ever showing, raising or activating the
    // window: presses keep going to the application the user works in.
    void setRun(AppState run);
    void setLanguage(Language language);
    // The user asked for it: shown in front, with the keyboard in the list.
    void open();

    QListView& list() { return list_; }
    const QLabel& position() const { return position_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void selectNext(QAbstractItemView::ScrollHint hint);

    std::function<void(std::int64_t)> choose_;
    Language language_ = Language::English;
    RunListModel model_;
    QLabel position_;
    QListView list_;
};

}  // namespace quillet
