#pragma once

#include "platform/ui_languages.h"

#include <QStringList>

#include <utility>

namespace quillet {

class FixedUiLanguages final : public UiLanguages {
public:
    explicit FixedUiLanguages(QStringList languages = {QStringLiteral("en-US")})
        : languages_(std::move(languages)) {}
    QStringList preferred() const override { return languages_; }
    void set(QStringList languages) { languages_ = std::move(languages); }

private:
    QStringList languages_;
};

}  // namespace quillet
