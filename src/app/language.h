#pragma once

#include "core/texts.h"

#include <functional>

namespace quillet {

class SettingsStore;
class UiLanguages;

// The language the user chose in the menu, read anew on every question, so
// a text built later follows a switch made meanwhile.
class LanguageChoice {
public:
    LanguageChoice(SettingsStore& settings, const UiLanguages& languages)
        : settings_(settings), languages_(languages) {}

    Language current() const;
    // "auto", "en", "zh", or whatever else is stored.
    QString stored() const;
    // False when the choice could not be stored.
    bool set(QStringView code);
    // Called after every set(), for what shows texts outside the menu, with
    // whether the choice was stored.
    void setOnChange(std::function<void(bool saved)> onChange) { onChange_ = std::move(onChange); }

private:
    SettingsStore& settings_;
    const UiLanguages& languages_;
    std::function<void(bool saved)> onChange_;
};

}  // namespace quillet
