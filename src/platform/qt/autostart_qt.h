#pragma once

#include "platform/autostart.h"

namespace quillet {

// The XDG autostart entry $XDG_CONFIG_HOME/autostart/org.tarnwick.Quillet.desktop
// (~/.config when unset). Desktops start each entry there at login unless
// it is hidden, which is how a user's own switch turns one off.
class AutostartQt final : public Autostart {
public:
    // program: the executable the entry starts, as an absolute path.
    explicit AutostartQt(QString program) : program_(std::move(program)) {}

    bool enabled() const override;
    QString setEnabled(bool enabled) override;

    static QString filePath();
    // The Exec= value that runs program with no arguments, quoted and
    // escaped by the Desktop Entry rules.
    static QString execValue(const QString& program);

private:
    QString program_;
};

}  // namespace quillet
