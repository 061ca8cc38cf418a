#pragma once

#include "platform/settings_store.h"

#include <QString>

namespace quillet {

// The settings file of QSettings' native format: on Linux
// $XDG_CONFIG_HOME/tarnwick/Quillet.conf, keys at the top level. The file
// holds clipboard text, so it and its folder are kept readable by the owner
// only. Every write goes to disk at once (atomically, via a temporary file).
// Safe to use from several threads: each call works on its own QSettings.
class SettingsStoreQt final : public SettingsStore {
public:
    SettingsStoreQt();

    std::optional<std::int64_t> integer(const QString& key) const override;
    std::optional<QString> string(const QString& key) const override;
    std::optional<QByteArray> data(const QString& key) const override;

    bool setInteger(const QString& key, std::int64_t value) override;
    bool setString(const QString& key, const QString& value) override;
    bool setData(const QString& key, const QByteArray& value) override;
    bool remove(const QString& key) override;
    bool synchronize() override;

    // Where the settings file lives.
    static QString filePath();

private:
    bool write(const QString& key, const QVariant& value);
    QVariant read(const QString& key) const;
};

}  // namespace quillet
