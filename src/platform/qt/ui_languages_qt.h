#pragma once

#include "platform/ui_languages.h"

namespace quillet {

// The system locale's UI languages, read anew on every call.
class UiLanguagesQt final : public UiLanguages {
public:
    QStringList preferred() const override;
};

}  // namespace quillet
