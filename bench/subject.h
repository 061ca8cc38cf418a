#pragma once

// The programs the footprint benchmarks compare.

#include "x/program.h"

#include <QtGlobal>

namespace quillet::bench {

using harness::Program;

// Quillet itself, or the bare Qt tray program for comparison.
enum class Subject { Quillet, BareTray };
const char* subjectName(Subject subject);
// Characters of copied text in the big stored run: a 10 MiB clipboard.
inline constexpr qsizetype kStoredRun = qsizetype(10) << 20;

// Quillet finds a shortcut stored, as on every start after the first, and
// with `storedRun` characters the run of a copy that big.
Program::Options programOptions(Subject subject, qsizetype storedRun = 0);

}  // namespace quillet::bench
