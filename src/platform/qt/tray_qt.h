#pragma once

#include "platform/tray.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class QMenu;

namespace quillet {

// The item as a QSystemTrayIcon with a QMenu. Any click on the icon opens the
// menu. Hints are drawn after a tab, which QMenu right-aligns: they look like
// shortcuts but take no keys from anyone.
class TrayQt final : public QObject, public Tray {
    Q_OBJECT

public:
    TrayQt();
    ~TrayQt() override;

    void show() override;
    void setToolTip(const QString& text) override;
    void setMenu(std::vector<MenuRow> rows) override;
    bool isAvailable() const override;

private:
    void fill(QMenu& menu, const std::vector<MenuRow>& rows);
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon tray_;
    std::unique_ptr<QMenu> menu_;
    QString title_;
    // A menu that arrived while the user had the old one open.
    std::optional<std::vector<MenuRow>> pending_;
};

}  // namespace quillet
