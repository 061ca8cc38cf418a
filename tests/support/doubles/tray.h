#pragma once

#include "platform/tray.h"

#include <QString>

#include <vector>

namespace quillet {

// Keeps the menu as rows; a test reads them and chooses one as a user would.
class FakeTray final : public Tray {
public:
    void show() override { shown_ = true; }
    void setToolTip(const QString& text) override { toolTip_ = text; }
    void setMenu(std::vector<MenuRow> rows) override { rows_ = std::move(rows); }
    bool isAvailable() const override { return true; }

    bool shown() const { return shown_; }
    const QString& toolTip() const { return toolTip_; }
    const std::vector<MenuRow>& rows() const { return rows_; }

    // The row with this title, at any depth.
    const MenuRow* row(const QString& title) const { return findIn(rows_, title); }
    // Runs the row's command; false when there is no such row or it does nothing.
    bool choose(const QString& title) {
        const MenuRow* found = row(title);
        if (found == nullptr || !found->enabled || !found->onChosen) {
            return false;
        }
        // A copy: the command may replace the menu it came from.
        const auto onChosen = found->onChosen;
        onChosen();
        return true;
    }

private:
    static const MenuRow* findIn(const std::vector<MenuRow>& rows, const QString& title) {
        for (const MenuRow& row : rows) {
            if (row.title == title) {
                return &row;
            }
            if (const MenuRow* child = findIn(row.children, title)) {
                return child;
            }
        }
        return nullptr;
    }

    bool shown_ = false;
    QString toolTip_;
    std::vector<MenuRow> rows_;
};

}  // namespace quillet
