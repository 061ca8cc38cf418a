#pragma once

#include "platform/status_item.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <map>
#include <memory>

class QAction;
class QMenu;

namespace quillet {

// The item as a QSystemTrayIcon with a QMenu. Any click on the icon opens the
// menu. Key texts are drawn after a tab, which QMenu right-aligns: they look
// like shortcuts but take no keys from anyone.
class StatusItemQt final : public QObject, public StatusItem {
    Q_OBJECT

public:
    StatusItemQt();
    ~StatusItemQt() override;

    void show() override;
    void setTitle(const QString& title) override;
    void setMenu(std::vector<MenuRow> rows) override;
    void setRowText(int tag, const QString& title, const QString& keyText) override;
    bool isTrayAvailable() const override;

private:
    void fill(QMenu& menu, const std::vector<MenuRow>& rows);
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon tray_;
    std::unique_ptr<QMenu> menu_;
    std::map<int, QAction*> tagged_;  // rows of menu_, owned by it
    QString title_;
};

}  // namespace quillet
