#pragma once

// How a stored value reads as each kind. Shared by every settings store so
// that the real one and its test double agree.

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <limits>
#include <optional>

namespace quillet::stored_value {

// What a value that is there but no whole number of 64 bits reads as: below
// every range a setting has, so it is never taken for another valid value.
inline constexpr std::int64_t kDamagedInteger = std::numeric_limits<std::int64_t>::min();

// Whole numbers, as numbers or as text ("42", "-3"); nothing stored is none,
// anything else kDamagedInteger.
std::optional<std::int64_t> toInteger(const QVariant& value);
// Text; a list (a=x,y in a settings file) as its items joined by commas.
std::optional<QString> toString(const QVariant& value);
// Only a value stored as data; text is not data.
std::optional<QByteArray> toData(const QVariant& value);

}  // namespace quillet::stored_value
