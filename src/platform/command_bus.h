#pragma once

// Where commands for the running copy arrive on the session bus: one method
// of one interface per Command. Plain names, so that the command-line client
// can use them without Qt.

namespace quillet::bus {

inline constexpr char kService[] = "org.tarnwick.Quillet";
inline constexpr char kPath[] = "/org/tarnwick/Quillet";
inline constexpr char kInterface[] = "org.tarnwick.Quillet";
inline constexpr char kPasteNext[] = "PasteNext";
inline constexpr char kBack[] = "Back";
inline constexpr char kSkip[] = "Skip";
inline constexpr char kStartOver[] = "Restart";
// Answers a string: where the run stands, once the commands before it ran.
inline constexpr char kStatus[] = "Status";

}  // namespace quillet::bus
