// decodeAppState on arbitrary bytes. It must not crash or hang; whatever it
// accepts must survive encode/decode unchanged, and must also be a run that
// Qt's JSON parser reads the same way: the hand-written reader may be faster
// than QJsonDocument, never more lenient.
#include "core/app_state.h"
#include "require.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

using quillet::AppState;

// A whole number at or above 0 that fits 64 bits, as the run stores its indexes.
std::optional<std::int64_t> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    // Integers that fit come back exact; anything else is a double.
    const double asDouble = value.toDouble();
    const qint64 asInteger = value.toInteger(-1);
    if (asInteger >= 0) {
        return asInteger;
    }
    if (asDouble >= 0 && asDouble < 9223372036854775808.0 && std::trunc(asDouble) == asDouble) {
        return static_cast<std::int64_t>(asDouble);
    }
    return std::nullopt;
}

// The stored run as QJsonDocument and plain type checks read it.
std::optional<AppState> referenceDecode(const QByteArray& json, bool* authoritative = nullptr) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (authoritative != nullptr) {
        // JSON lets a reader limit the range of numbers: Qt refuses a number
        // a double cannot hold (1e-99999) even in members nobody reads, where
        // ours only checks its form. That is a limit, not a verdict.
        *authoritative = error.error != QJsonParseError::IllegalNumber;
    }
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue lines = object.value(QStringLiteral("lines"));
    const QJsonValue index = object.value(QStringLiteral("currentIndex"));
    const QJsonValue source = object.value(QStringLiteral("sourceClipboardContent"));
    const QJsonValue starts = object.value(QStringLiteral("rowStarts"));
    if (!lines.isArray() || !source.isString() || !(starts.isUndefined() || starts.isArray())) {
        return std::nullopt;
    }
    AppState state;
    for (const QJsonValue& line : lines.toArray()) {
        if (!line.isString()) {
            return std::nullopt;
        }
        state.lines.append(line.toString());
    }
    const std::optional<std::int64_t> at = wholeNumber(index);
    if (!at) {
        return std::nullopt;
    }
    state.currentIndex = *at;
    for (const QJsonValue& start : starts.toArray()) {
        const std::optional<std::int64_t> whole = wholeNumber(start);
        // Rising from 0, each on a line.
        const bool rising =
            whole && (state.rowStarts.isEmpty() ? *whole == 0 : *whole > state.rowStarts.back());
        if (!rising || *whole >= state.lines.size()) {
            return std::nullopt;
        }
        state.rowStarts.append(*whole);
    }
    state.sourceClipboardContent = source.toString();
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray json =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<AppState> state = quillet::decodeAppState(json);
    if (!state) {
        return 0;
    }
    require(state->currentIndex >= 0);

    const QByteArray encoded = quillet::encodeAppState(*state).json;
    const std::optional<AppState> again = quillet::decodeAppState(encoded);
    require(again.has_value() && *again == *state);
    require(referenceDecode(encoded) == state);

    bool authoritative = true;
    const std::optional<AppState> reference = referenceDecode(json, &authoritative);
    // A member named twice counts with its last value in both readers.
    require(!authoritative || reference == state);
    return 0;
}
