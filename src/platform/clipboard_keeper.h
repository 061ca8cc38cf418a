#pragma once

#include "platform/clipboard.h"

#include <optional>
#include <string_view>

namespace quillet {

// When the program quits, what it put back on the clipboard is handed to
// the program itself, started again in a mode of its own: it serves the copy
// until another program copies, then exits. It holds no lock, no bus name
// and no terminal, so a new start runs beside it and takes the clipboard
// over with its first paste.

// The option that starts the keeper, followed by the desktop's name.
inline constexpr std::string_view kKeeperOption = "--keep-clipboard";

// Starts the keeper for this desktop ("x11", "wayland") with the content;
// true once it serves it.
bool startKeeper(const ClipboardContent& content, std::string_view desktop);

// In the keeper: the content handed over, read from standard input.
std::optional<ClipboardContent> receiveKeptContent();
// In the keeper: tells the program that started it that the copy is served.
void reportKeeping();

}  // namespace quillet
