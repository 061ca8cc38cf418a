#include "paste/app_state.h"

#include "platform/settings_store.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace quillet {

namespace {

const QString kLines = QStringLiteral("lines");
const QString kCurrentIndex = QStringLiteral("currentIndex");
const QString kSource = QStringLiteral("sourceClipboardContent");

void appendJsonString(QByteArray& out, const QString& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            case '\b': out.append("\\b"); break;
            case '\f': out.append("\\f"); break;
            default:
                if (byte < 0x20) {
                    const char escaped[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
                    out.append(escaped, sizeof escaped);
                } else {
                    out.append(c);
                }
        }
    }
    out.append('"');
}

}  // namespace

QByteArray encodeAppState(const AppState& state) {
    QByteArray out;
    qsizetype size = state.sourceClipboardContent.size() * 2 + 64;
    for (const QString& line : state.lines) {
        size += line.size() * 2 + 3;
    }
    out.reserve(size);
    out.append("{\"lines\":[");
    for (qsizetype i = 0; i < state.lines.size(); ++i) {
        if (i > 0) {
            out.append(',');
        }
        appendJsonString(out, state.lines[i]);
    }
    out.append("],\"currentIndex\":");
    out.append(QByteArray::number(static_cast<qlonglong>(state.currentIndex)));
    out.append(",\"sourceClipboardContent\":");
    appendJsonString(out, state.sourceClipboardContent);
    out.append('}');
    return out;
}

std::optional<AppState> decodeAppState(QByteArrayView json) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue lines = object.value(kLines);
    const QJsonValue index = object.value(kCurrentIndex);
    const QJsonValue source = object.value(kSource);
    if (!lines.isArray() || !index.isDouble() || !source.isString()) {
        return std::nullopt;
    }
    // A whole number that fits 64 bits; 1.5 or 1e30 is not an index.
    constexpr qint64 kNotWhole = -1;
    const qint64 currentIndex = index.toInteger(kNotWhole);
    if (currentIndex < 0) {
        return std::nullopt;
    }
    AppState state;
    const QJsonArray array = lines.toArray();
    state.lines.reserve(array.size());
    for (const QJsonValue& line : array) {
        if (!line.isString()) {
            return std::nullopt;
        }
        state.lines.append(line.toString());
    }
    state.currentIndex = currentIndex;
    state.sourceClipboardContent = source.toString();
    return state;
}

AppState loadState(const SettingsStore& settings) {
    const std::optional<QByteArray> stored = settings.data(QString::fromUtf16(kAppStateKey));
    if (!stored) {
        return {};
    }
    return decodeAppState(*stored).value_or(AppState{});
}

bool saveState(SettingsStore& settings, const AppState& state) {
    return settings.setData(QString::fromUtf16(kAppStateKey), encodeAppState(state));
}

}  // namespace quillet
