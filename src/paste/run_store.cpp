#include "paste/run_store.h"

#include "platform/settings_store.h"
#include "platform/state_file.h"

namespace quillet {

AppState RunStore::load() {
    if (const auto stored = file_.read()) {
        if (auto run = decodeAppState(*stored)) {
            indexOffset_.reset();
            return std::move(*run);
        }
        return {};
    }
    const QString key = QString::fromUtf16(kAppStateKey);
    const std::optional<QByteArray> old = settings_.data(key);
    if (!old) {
        return {};
    }
    // Moved once: the settings keep it until the file has it.
    AppState run = decodeAppState(*old).value_or(AppState{});
    if (save(run)) {
        settings_.remove(key);
    }
    return run;
}

bool RunStore::save(const AppState& run) {
    const EncodedAppState encoded = encodeAppState(run);
    indexOffset_.reset();
    if (!file_.write(encoded.json)) {
        return false;
    }
    indexOffset_ = encoded.indexOffset;
    return true;
}

bool RunStore::saveIndex(const AppState& run) {
    if (!indexOffset_) {
        return save(run);
    }
    if (!file_.overwrite(*indexOffset_, encodeIndex(run.currentIndex))) {
        indexOffset_.reset();
        return false;
    }
    return true;
}

}  // namespace quillet
