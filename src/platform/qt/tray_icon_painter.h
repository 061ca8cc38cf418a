#pragma once

#include <QIcon>

class QPainter;
class QRectF;

namespace quillet {

// Draws the program's glyph, a clipboard with an arrow on its next line,
// into `rect`. Drawn anew at every size so it stays sharp from 16 px up; a
// dark outline with a light fill and halo reads on light and dark panels.
void paintTrayGlyph(QPainter& painter, const QRectF& rect);

// The glyph as an icon that paints itself at whatever size is asked for.
QIcon makeTrayIcon();

}  // namespace quillet
