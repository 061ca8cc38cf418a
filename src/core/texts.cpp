#include "core/texts.h"

namespace quillet {

Language languageFor(const std::optional<QString>& stored, const QStringList& uiLanguages) {
    if (stored == kLanguageChinese) {
        return Language::Chinese;
    }
    if (stored == kLanguageEnglish) {
        return Language::English;
    }
    return !uiLanguages.isEmpty() && uiLanguages.front().startsWith(u"zh") ? Language::Chinese
                                                                           : Language::English;
}

}  // namespace quillet
