#pragma once

#include "platform/status_item.h"

namespace quillet {

// Keeps the menu as rows; a test reads them and chooses one as a user would.
class FakeStatusItem final : public StatusItem {
public:
    void show() override { shown_ = true; }
    void setTitle(const QString& title) override { title_ = title; }
    void setMenu(std::vector<MenuRow> rows) override {
        rows_ = std::move(rows);
        ++menusSet_;
    }
    void setRowText(int tag, const QString& title, const QString& keyText) override {
        if (MenuRow* row = findIn(rows_, [tag](const MenuRow& r) { return r.tag == tag; })) {
            row->title = title;
            row->keyText = keyText;
        }
    }
    bool isTrayAvailable() const override { return trayAvailable; }

    bool shown() const { return shown_; }
    const QString& title() const { return title_; }
    const std::vector<MenuRow>& rows() const { return rows_; }
    int menusSet() const { return menusSet_; }

    // The row with this title, at any depth.
    const MenuRow* row(const QString& title) {
        return findIn(rows_, [&title](const MenuRow& r) { return r.title == title; });
    }
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

    bool trayAvailable = true;

private:
    template <typename Pred>
    static MenuRow* findIn(std::vector<MenuRow>& rows, const Pred& pred) {
        for (MenuRow& row : rows) {
            if (pred(row)) {
                return &row;
            }
            if (MenuRow* child = findIn(row.children, pred)) {
                return child;
            }
        }
        return nullptr;
    }

    bool shown_ = false;
    QString title_;
    std::vector<MenuRow> rows_;
    int menusSet_ = 0;
};

}  // namespace quillet
