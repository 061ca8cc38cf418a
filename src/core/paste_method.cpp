#include "core/paste_method.h"

namespace quillet {

PasteMethod pasteMethodFor(const QString& appId, const PasteMethodOverrides& overrides) {
    if (overrides.typing.contains(appId, Qt::CaseInsensitive)) {
        return PasteMethod::Typing;
    }
    if (overrides.controlShiftV.contains(appId, Qt::CaseInsensitive)) {
        return PasteMethod::ControlShiftV;
    }
    return PasteMethod::ControlV;
}

}  // namespace quillet
