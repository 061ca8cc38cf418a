#pragma once

#include "platform/settings_store.h"

#include <QHash>
#include <QVariant>

#include <mutex>

namespace quillet {

// Settings kept in memory, with the read rules of the real store: integers
// parse from text, data is only what was stored as data. Thread-safe.
class InMemorySettingsStore final : public SettingsStore {
public:
    std::optional<std::int64_t> integer(const QString& key) const override;
    std::optional<QString> string(const QString& key) const override;
    std::optional<QByteArray> data(const QString& key) const override;

    bool setInteger(const QString& key, std::int64_t value) override;
    bool setString(const QString& key, const QString& value) override;
    bool setData(const QString& key, const QByteArray& value) override;
    bool remove(const QString& key) override;
    bool synchronize() override;

    // Plants any value, as another program editing the file might.
    void setRaw(const QString& key, const QVariant& value);
    bool contains(const QString& key) const;
    // While false, writes fail and change nothing.
    void setWritable(bool writable);

private:
    bool store(const QString& key, const QVariant& value);
    QVariant value(const QString& key) const;

    mutable std::mutex mutex_;
    QHash<QString, QVariant> values_;
    bool writable_ = true;
};

}  // namespace quillet
