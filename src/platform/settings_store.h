#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace quillet {

// The user's persistent key-value store, shared by the whole program.
// Reads are tolerant: an absent value is none, and an integer that is no
// whole number of 64 bits reads as stored_value::kDamagedInteger, outside
// every range. Writes report whether the value reached the disk.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<std::int64_t> integer(const QString& key) const = 0;
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual std::optional<QByteArray> data(const QString& key) const = 0;

    virtual bool setInteger(const QString& key, std::int64_t value) = 0;
    virtual bool setString(const QString& key, const QString& value) = 0;
    virtual bool setData(const QString& key, const QByteArray& value) = 0;
    virtual bool remove(const QString& key) = 0;

    // Writes pending changes out now; false when the store could not be written.
    virtual bool synchronize() = 0;
};

}  // namespace quillet
