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
// Start over: the bus and the command line keep the word scripts and
// desktop bindings already call ("Restart", --restart).
inline constexpr char kStartOver[] = "Restart";
// Answers a string: where the run stands.
inline constexpr char kStatus[] = "Status";
// The error a command is refused with when it cannot be carried out now; its
// message says why, for the user.
inline constexpr char kRefused[] = "org.tarnwick.Quillet.Error.Refused";

}  // namespace quillet::bus
