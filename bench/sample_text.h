#pragma once

#include <QString>

namespace quillet::bench {

// About `chars` characters of copied text in lines of 40, mixed ASCII and
// Chinese, after `prefix` (which tells two such texts apart).
QString sampleText(qsizetype chars, const QString& prefix = {});

}  // namespace quillet::bench
