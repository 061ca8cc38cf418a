#pragma once

#include "app/link_alert.h"
#include "app/localized_strings.h"

namespace quillet {

inline constexpr auto kWebsiteUrl = u"https://tarnwick.example/Quillet/";
inline constexpr auto kFeedbackUrl = u"https://code.tarnwick.example/tarnwick/Quillet/issues";
inline constexpr auto kSupportUrl = u"https://tarnwick.example/Quillet/#support";

// The About dialog in the current language: version, copyright, a line on
// what the program is for, and three links. It comes to the front.
LinkAlertSpec aboutAlert(const LocalizedStrings& strings);

}  // namespace quillet
