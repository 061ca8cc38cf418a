#include "in_memory_settings_store.h"

#include "core/stored_value.h"

namespace quillet {

QVariant InMemorySettingsStore::value(const QString& key) const {
    std::lock_guard lock(mutex_);
    return values_.value(key);
}

std::optional<std::int64_t> InMemorySettingsStore::integer(const QString& key) const {
    return stored_value::toInteger(value(key));
}

std::optional<QString> InMemorySettingsStore::string(const QString& key) const {
    return stored_value::toString(value(key));
}

std::optional<QByteArray> InMemorySettingsStore::data(const QString& key) const {
    return stored_value::toData(value(key));
}

bool InMemorySettingsStore::store(const QString& key, const QVariant& value) {
    std::lock_guard lock(mutex_);
    if (!writable_) {
        return false;
    }
    values_.insert(key, value);
    return true;
}

bool InMemorySettingsStore::remove(const QString& key) {
    std::lock_guard lock(mutex_);
    if (!writable_) {
        return false;
    }
    values_.remove(key);
    return true;
}

bool InMemorySettingsStore::setInteger(const QString& key, std::int64_t value) {
    return store(key, QVariant::fromValue<qint64>(value));
}

bool InMemorySettingsStore::setString(const QString& key, const QString& value) {
    return store(key, value);
}

bool InMemorySettingsStore::setData(const QString& key, const QByteArray& value) {
    return store(key, value);
}

bool InMemorySettingsStore::synchronize() {
    std::lock_guard lock(mutex_);
    return writable_;
}

void InMemorySettingsStore::setRaw(const QString& key, const QVariant& value) {
    std::lock_guard lock(mutex_);
    values_.insert(key, value);
}

bool InMemorySettingsStore::contains(const QString& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

void InMemorySettingsStore::setWritable(bool writable) {
    std::lock_guard lock(mutex_);
    writable_ = writable;
}

}  // namespace quillet
