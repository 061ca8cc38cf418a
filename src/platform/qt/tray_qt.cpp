#include "platform/qt/tray_qt.h"

#include "platform/qt/tray_icon_painter.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QTextDocument>

namespace quillet {

namespace {

QString actionText(const QString& title, const QString& hint) {
    // A lone '&' would turn into a mnemonic underline.
    QString text = QString(title).replace(u'&', QStringLiteral("&&"));
    if (!hint.isEmpty()) {
        text += u'\t' + hint;
    }
    return text;
}

}  // namespace

TrayQt::TrayQt() {
    tray_.setIcon(makeTrayIcon());
    connect(&tray_, &QSystemTrayIcon::activated, this, &TrayQt::onActivated);
}

TrayQt::~TrayQt() {
    tray_.setContextMenu(nullptr);
}

void TrayQt::show() {
    // Dialogs carry the same glyph in window lists.
    QGuiApplication::setWindowIcon(tray_.icon());
    tray_.show();
}

void TrayQt::setToolTip(const QString& text) {
    // The first line names the item; the rest says how it is doing.
    title_ = text.section(u'\n', 0, 0);
    // Copied lines are shown as they are, never as markup.
    tray_.setToolTip(Qt::mightBeRichText(text)
                         ? QStringLiteral("<qt>%1</qt>")
                               .arg(text.toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")))
                         : text);
    if (menu_) {
        menu_->setWindowTitle(title_);
    }
}

void TrayQt::setMenu(std::vector<MenuRow> rows) {
    // A press while the menu is open would close it under the user's pointer.
    if (menu_ && menu_->isVisible()) {
        pending_ = std::move(rows);
        return;
    }
    pending_.reset();
    auto menu = std::make_unique<QMenu>();
    // Names the popup for window lists and accessibility tools.
    menu->setWindowTitle(title_);
    fill(*menu, rows);
    connect(menu.get(), &QMenu::aboutToHide, this, [this] {
        if (pending_) {
            // After the hide, and after a chosen row's queued command.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    if (pending_) {
                        setMenu(std::move(*pending_));
                    }
                },
                Qt::QueuedConnection);
        }
    });
    tray_.setContextMenu(menu.get());
    // The old menu goes only now, after the tray has let go of it.
    menu_ = std::move(menu);
}

void TrayQt::fill(QMenu& menu, const std::vector<MenuRow>& rows) {
    for (const MenuRow& row : rows) {
        QAction* action = nullptr;
        switch (row.kind) {
            case MenuRow::Kind::Separator:
                menu.addSeparator();
                continue;
            case MenuRow::Kind::Submenu: {
                // Owned by its parent menu.
                QMenu* submenu = menu.addMenu(actionText(row.title, {}));
                fill(*submenu, row.children);
                action = submenu->menuAction();
                break;
            }
            case MenuRow::Kind::Action:
                action = menu.addAction(actionText(row.title, row.hint));
                break;
        }
        action->setEnabled(row.enabled);
        action->setCheckable(row.checkable);
        action->setChecked(row.checked);
        if (row.onChosen) {
            // Queued: the command may rebuild this very menu or open a modal
            // dialog, neither of which may happen inside the menu's own signal.
            connect(action, &QAction::triggered, this, [this, onChosen = row.onChosen] {
                QMetaObject::invokeMethod(this, onChosen, Qt::QueuedConnection);
            });
        }
    }
}

bool TrayQt::isAvailable() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayQt::onActivated(QSystemTrayIcon::ActivationReason reason) {
    // A right click opens the menu by itself (Context); the others open it
    // here. A quick second click arrives as a double click, not a press.
    if (!menu_ || menu_->isVisible() || reason == QSystemTrayIcon::Context) {
        return;
    }
    // Below the icon, or above it when the tray sits low on the screen.
    const QRect icon = tray_.geometry();
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    if (icon.isEmpty() || screen == nullptr) {
        menu_->popup(QCursor::pos());
        return;
    }
    const bool below = icon.center().y() < screen->geometry().center().y();
    menu_->popup(below ? icon.bottomLeft() + QPoint(0, 1)
                       : icon.topLeft() - QPoint(0, menu_->sizeHint().height()));
}

}  // namespace quillet
