#pragma once

// Where commands for the running copy arrive on the session bus: one method
// of one interface per Command. Plain names, so that the command-line client
// can use them without Qt.

namespace quillet::bus {

inline constexpr char kService[] = "org.tarnwick.Quillet";
inline constexpr char kPath[] = "/org/tarnwick/Quillet";
inline constexpr char kInterface[] = "org.tarnwick.Quillet";
inline constexpr char kPasteNext[] = "PasteNext";

}  // namespace quillet::bus
