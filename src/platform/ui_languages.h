#pragma once

#include <QStringList>

namespace quillet {

// The user's preferred UI languages, most preferred first (e.g. "zh-CN", "en-US").
class UiLanguages {
public:
    virtual ~UiLanguages() = default;
    virtual QStringList preferred() const = 0;
};

}  // namespace quillet
