#include "core/stored_value.h"

#include <QStringList>

namespace quillet::stored_value {

std::optional<std::int64_t> toInteger(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long: {
            return value.toLongLong();
        }
        case QMetaType::ULongLong:
        case QMetaType::ULong: {
            bool ok = false;
            const qulonglong raw = value.toULongLong(&ok);
            return ok && raw <= static_cast<qulonglong>(INT64_MAX) ? static_cast<std::int64_t>(raw)
                                                                   : kDamagedInteger;
        }
        case QMetaType::QString: {
            // A text file holds every number as text.
            bool ok = false;
            const qlonglong parsed = value.toString().trimmed().toLongLong(&ok, 10);
            return ok ? parsed : kDamagedInteger;
        }
        case QMetaType::UnknownType:
            return std::nullopt;
        default:
            return kDamagedInteger;
    }
}

std::optional<QString> toString(const QVariant& value) {
    if (value.typeId() == QMetaType::QString) {
        return value.toString();
    }
    // An INI file's unquoted "a,b" reads as a list; it was written as text.
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(u',');
    }
    return std::nullopt;
}

std::optional<QByteArray> toData(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray) {
        return value.toByteArray();
    }
    return std::nullopt;
}

}  // namespace quillet::stored_value
