#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace quillet {

// One row of a tray menu as the platform draws it.
struct MenuRow {
    enum class Kind { Action, Separator, Submenu };

    Kind kind = Kind::Action;
    QString title;
    // Drawn at the row's right edge. Text only: never a live shortcut.
    QString hint;
    bool enabled = true;
    bool checkable = false;
    bool checked = false;
    // Runs on the UI thread once the menu has closed, never inside it.
    std::function<void()> onChosen;
    std::vector<MenuRow> children;  // Submenu only
};

// The program's item in the desktop's system tray. UI thread only.
class Tray {
public:
    virtual ~Tray() = default;

    // Puts the item in the tray; it docks by itself whenever a tray appears.
    virtual void show() = 0;
    virtual void setToolTip(const QString& text) = 0;
    // Replaces the whole menu; a click on the item opens it.
    virtual void setMenu(std::vector<MenuRow> rows) = 0;
    // Whether a tray host is running now.
    virtual bool isAvailable() const = 0;
};

}  // namespace quillet
