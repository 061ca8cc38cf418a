#include "app/run_window.h"

#include "core/cells.h"
#include "core/run_moves.h"
#include "core/run_rows.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace quillet {

namespace {

// Longer lines are cut: a row shows the start of a line, not all of it.
constexpr qsizetype kShownLength = 300;

// A mark as an icon, so that every row's text starts at the same place; an
// empty glyph keeps the room free.
QIcon markIcon(const QString& glyph, const QColor& color) {
    const QFont font = QApplication::font();
    const int side = QFontMetrics(font).height();
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap(QSize(side, side) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, glyph);
    painter.end();
    return QIcon(pixmap);
}

int rowOf(qsizetype row) {
    return static_cast<int>(std::min<qsizetype>(row, std::numeric_limits<int>::max()));
}

}  // namespace

RunListModel::RunListModel()
    : pasted_(markIcon(QStringLiteral("✓"),
                       QApplication::palette().color(QPalette::Disabled, QPalette::Text))),
      next_(markIcon(QStringLiteral("▶"), QApplication::palette().color(QPalette::Text))),
      ahead_(markIcon({}, {})) {}

void RunListModel::setRun(AppState run) {
    const RowChange change = rowChange(run_, run);
    if (change.kind == RowChange::Kind::Lines) {
        beginResetModel();
        run_ = std::move(run);
        endResetModel();
        return;
    }
    run_ = std::move(run);
    if (change.kind == RowChange::Kind::Marks) {
        Q_EMIT dataChanged(index(rowOf(change.first)), index(rowOf(change.last)),
                           {Qt::DecorationRole, Qt::ForegroundRole, Qt::FontRole, kMarkRole});
    }
}

int RunListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rowOf(run_.lines.size());
}

QVariant RunListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= run_.lines.size()) {
        return {};
    }
    const RowMark mark = rowMark(run_, index.row());
    switch (role) {
        case Qt::DisplayRole: {
            const QString line = shortenedLine(run_.lines[index.row()], kShownLength);
            if (!isCellRun(run_)) {
                return line;
            }
            // A cell goes by its name, so that rows and empty cells show.
            const QString name = cellName(cellPlace(run_, index.row()));
            return line.isEmpty() ? name : name + QStringLiteral("  ") + line;
        }
        case Qt::DecorationRole:
            return mark == RowMark::Pasted ? pasted_ : mark == RowMark::Next ? next_ : ahead_;
        case Qt::ForegroundRole:
            if (mark == RowMark::Pasted) {
                return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
            }
            return {};
        case Qt::FontRole:
            if (mark == RowMark::Next) {
                QFont bold = QApplication::font();
                bold.setBold(true);
                return bold;
            }
            return {};
        case kMarkRole:
            return static_cast<int>(mark);
        default:
            return {};
    }
}

RunWindow::RunWindow(std::function<void(std::int64_t index)> choose) : choose_(std::move(choose)) {
    position_.setTextFormat(Qt::PlainText);
    list_.setModel(&model_);
    // Row heights from the first row alone: no pass over every line.
    list_.setUniformItemSizes(true);
    list_.setSelectionMode(QAbstractItemView::SingleSelection);
    list_.setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Enter and a double-click both activate.
    connect(&list_, &QListView::activated, this,
            [this](const QModelIndex& index) { choose_(index.row()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(&position_);
    layout->addWidget(&list_);
    setFocusProxy(&list_);
    resize(400, 340);
    setLanguage(language_);
}

void RunWindow::setRun(AppState run) {
    const RowChange change = rowChange(model_.run(), run);
    model_.setRun(std::move(run));
    position_.setText(positionText(model_.run(), language_));
    if (change.kind != RowChange::Kind::None) {
        selectNext(change.kind == RowChange::Kind::Lines ? QAbstractItemView::PositionAtCenter
                                                         : QAbstractItemView::EnsureVisible);
    }
}

void RunWindow::setLanguage(Language language) {
    language_ = language;
    setWindowTitle(text::kListTitle.in(language));
    position_.setText(positionText(model_.run(), language));
}

void RunWindow::open() {
    show();
    // Once shown: the list has its size, so the next line can be centred.
    selectNext(QAbstractItemView::PositionAtCenter);
    raise();
    activateWindow();
    list_.setFocus();
}

void RunWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void RunWindow::selectNext(QAbstractItemView::ScrollHint hint) {
    const auto next = nextRow(model_.run());
    if (!next) {
        list_.setCurrentIndex({});
        list_.clearSelection();
        list_.scrollToBottom();
        return;
    }
    const QModelIndex index = model_.index(rowOf(*next));
    list_.setCurrentIndex(index);
    list_.scrollTo(index, hint);
}

}  // namespace quillet
