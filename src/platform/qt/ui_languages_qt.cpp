#include "platform/qt/ui_languages_qt.h"

#include <QLocale>

namespace quillet {

QStringList UiLanguagesQt::preferred() const {
    return QLocale::system().uiLanguages();
}

}  // namespace quillet
