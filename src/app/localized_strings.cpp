#include "app/localized_strings.h"

#include "platform/settings_store.h"
#include "platform/ui_languages.h"

namespace quillet {

bool LocalizedStrings::isChinese() const {
    const QString setting =
        settings_->string(QString::fromUtf16(kAppLanguageKey)).value_or(QStringLiteral("auto"));
    if (setting == u"zh") {
        return true;
    }
    if (setting == u"en") {
        return false;
    }
    const QStringList preferred = languages_->preferred();
    return !preferred.isEmpty() && preferred.front().startsWith(u"zh");
}

}  // namespace quillet
