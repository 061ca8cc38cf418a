#pragma once

#include <QString>
#include <QStringView>

namespace quillet {

class SettingsStore;
class UiLanguages;

inline constexpr auto kAppLanguageKey = u"appLanguage";

// The one decision between the English and the Simplified Chinese text. The
// stored "appLanguage" ("zh", "en", "auto"; anything else counts as "auto")
// is read anew on every question; nothing is cached.
class LocalizedStrings {
public:
    LocalizedStrings(const SettingsStore& settings, const UiLanguages& languages)
        : settings_(&settings), languages_(&languages) {}

    bool isChinese() const;

    // The text in the current language; each call decides afresh.
    QString text(QStringView english, QStringView chinese) const {
        return (isChinese() ? chinese : english).toString();
    }

private:
    const SettingsStore* settings_;
    const UiLanguages* languages_;
};

}  // namespace quillet
