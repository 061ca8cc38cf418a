#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace quillet {

inline constexpr auto kAppStateKey = u"appState";

// The paste run: what was copied, its lines, and where the next press goes.
// A run of cells has the cells of a copied range as its lines, row after row.
struct AppState {
    QStringList lines;                // trimmed, in clipboard order; only a cell may be empty
    std::int64_t currentIndex = 0;    // the line the next press pastes
    QString sourceClipboardContent;   // the clipboard text the lines came from
    QList<qsizetype> rowStarts = {};  // a run of cells: where each row starts; else empty

    friend bool operator==(const AppState&, const AppState&) = default;
};

// The run's JSON, read and written by hand: 5 to 15 times faster than
// QJsonDocument at the megabytes a big clipboard makes.

// Compact JSON with the members "lines", "sourceClipboardContent" and
// "currentIndex" (and "rowStarts" for a run of cells), the index last in a
// field of fixed width (digits, then spaces) that never straddles a 512-byte
// sector: a press that only moves the cursor rewrites those bytes alone, in
// place.
struct EncodedAppState {
    QByteArray json;
    qsizetype indexOffset = 0;  // where the index field starts
};
EncodedAppState encodeAppState(const AppState& state);

inline constexpr qsizetype kIndexFieldWidth = 20;
// The index field: an index, then spaces to the width.
QByteArray encodeIndex(std::int64_t index);

// Strict: all three members are required with their JSON types; member order
// does not matter and extra members are ignored. A negative index is refused.
// Without "rowStarts" it is a run of lines; with it, the starts must rise
// from 0 and lie within the lines.
std::optional<AppState> decodeAppState(QByteArrayView json);

}  // namespace quillet
