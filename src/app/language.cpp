#include "app/language.h"

#include "platform/settings_store.h"
#include "platform/ui_languages.h"

namespace quillet {

Language LanguageChoice::current() const {
    return languageFor(settings_.string(QString::fromUtf16(kAppLanguageKey)),
                       languages_.preferred());
}

QString LanguageChoice::stored() const {
    return settings_.string(QString::fromUtf16(kAppLanguageKey))
        .value_or(QString::fromUtf16(kLanguageAuto));
}

bool LanguageChoice::set(QStringView code) {
    const bool stored = settings_.setString(QString::fromUtf16(kAppLanguageKey), code.toString());
    const bool saved = settings_.synchronize() && stored;
    if (onChange_) {
        onChange_(saved);
    }
    return saved;
}

}  // namespace quillet
