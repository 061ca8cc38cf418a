#pragma once

// The CLIPBOARD selection as another program uses it.

#include "platform/clipboard.h"

#include <QByteArray>
#include <QString>

namespace quillet::harness {

// The CLIPBOARD selection as another program uses it, through xclip. copy()
// returns once xclip owns the selection; a child of it keeps serving it.
// Several formats at once, as a browser copies, are served from this
// process until the next copy.
bool copy(const QByteArray& data, const QString& mimeType = QStringLiteral("UTF8_STRING"));
bool copy(const ClipboardContent& content);
QByteArray clipboardData(const QString& mimeType = QStringLiteral("UTF8_STRING"));

}  // namespace quillet::harness
