#pragma once

// How a stored value reads as each kind. Shared by every settings store so
// that the real one and its test double agree.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

namespace quillet::stored_value {

// Whole numbers, as numbers or as text ("42", "-3"); anything else is none.
std::optional<std::int64_t> toInteger(const QVariant& value);
// Text; a list (a=x,y in a settings file) as its items joined by commas.
std::optional<QString> toString(const QVariant& value);
// Only a value stored as data; text is not data.
std::optional<QByteArray> toData(const QVariant& value);

}  // namespace quillet::stored_value
