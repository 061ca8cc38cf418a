#include "platform/qt/alerts_qt.h"

#include <QAbstractButton>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace quillet {

int AlertsQt::exec(const AlertSpec& alert) {
    QMessageBox box;
    box.setWindowTitle(alert.title);
    box.setText(alert.title);
    box.setInformativeText(alert.text);
    box.setIcon(alert.style == AlertStyle::Warning ? QMessageBox::Warning
                                                   : QMessageBox::Information);
    // One role for all keeps the buttons in the order they were added.
    std::vector<QAbstractButton*> buttons;
    for (const QString& title : alert.buttons) {
        buttons.push_back(box.addButton(title, QMessageBox::ActionRole));
    }
    if (!buttons.empty()) {
        box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
        box.setEscapeButton(buttons.back());
    }
    if (alert.activate) {
        box.show();
        box.raise();
        box.activateWindow();
        box.exec();
    } else {
        // Qt gives the keyboard focus to every modal window it maps, so a
        // notice is shown non-modal and waited for in a loop of its own: the
        // focus stays with the application the user is typing in.
        box.setWindowModality(Qt::NonModal);
        box.setAttribute(Qt::WA_ShowWithoutActivating);
        QEventLoop loop;
        QObject::connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
        box.show();
        loop.exec();
    }
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            return static_cast<int>(i);
        }
    }
    return buttons.empty() ? 0 : static_cast<int>(buttons.size() - 1);
}

}  // namespace quillet
