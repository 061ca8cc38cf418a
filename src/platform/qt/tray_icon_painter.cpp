#include "platform/qt/tray_icon_painter.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace quillet {

namespace {

// Drawn on a 32 x 32 grid, scaled to the square that fits the target.
constexpr qreal kGrid = 32;

const QColor kInk(0x1f, 0x29, 0x37);
const QColor kPaper(0xfb, 0xfb, 0xf8);
const QColor kHalo(255, 255, 255, 150);
const QColor kRule(0x8a, 0x93, 0xa0);
const QColor kArrow(0x1d, 0x63, 0xd8);

class TrayIconEngine final : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode /*mode*/,
               QIcon::State /*state*/) override {
        paintTrayGlyph(*painter, rect);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
        return size;
    }

    QList<QSize> availableSizes(QIcon::Mode /*mode*/, QIcon::State /*state*/) override {
        return {{16, 16}, {22, 22}, {24, 24}, {32, 32}, {48, 48}, {64, 64}};
    }

    // The copy's owner is the QIcon that asked for it.
    QIconEngine* clone() const override { return new TrayIconEngine(*this); }
    QString key() const override { return QStringLiteral("quillet-tray"); }
};

}  // namespace

void paintTrayGlyph(QPainter& painter, const QRectF& rect) {
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0) {
        return;
    }
    // Drawn in device pixels, every edge and stroke snapped to whole pixels,
    // so that the small sizes stay sharp instead of smeared.
    const qreal scale = side / kGrid;
    const auto at = [scale](qreal v) { return std::round(v * scale); };
    const qreal stroke = std::max<qreal>(1, std::round(2 * scale));
    // The centre of a stroke `stroke` pixels wide that covers whole pixels.
    const auto mid = [scale, stroke](qreal v) {
        return std::fmod(stroke, 2) != 0 ? std::floor(v * scale) + 0.5 : std::round(v * scale);
    };

    painter.save();
    // Trays pack icons edge to edge: the halo must not spill onto a neighbour.
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(std::round(rect.x() + (rect.width() - side) / 2),
                      std::round(rect.y() + (rect.height() - side) / 2));

    QPainterPath board;
    const qreal radius = std::max<qreal>(1.5, 3 * scale);
    board.addRoundedRect(QRectF(QPointF(mid(5), mid(5)), QPointF(mid(27), mid(31))), radius,
                         radius);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(at(10), at(2)), QPointF(at(22), at(9))), radius * 0.7,
                        radius * 0.7);

    // Halo first, so the outline stays visible on a dark panel.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kHalo, stroke + 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(board.united(clip));

    painter.setPen(QPen(kInk, stroke, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.setBrush(kPaper);
    painter.drawPath(board);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kInk);
    painter.drawPath(clip);

    // Two lines already pasted, then the arrow on the next one.
    painter.setPen(QPen(kRule, stroke, Qt::SolidLine, Qt::FlatCap));
    for (const qreal y : {12.0, 16.0}) {
        painter.drawLine(QPointF(at(10), mid(y)), QPointF(at(22), mid(y)));
    }

    QPainterPath arrow;
    arrow.addRect(QRectF(QPointF(at(9), at(22)), QPointF(at(18), at(26))));
    QPainterPath head;
    head.moveTo(at(17), at(20));
    head.lineTo(at(24), (at(20) + at(28)) / 2);
    head.lineTo(at(17), at(28));
    head.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(kArrow);
    painter.drawPath(arrow.united(head));
    painter.restore();
}

QIcon makeTrayIcon() {
    // QIcon owns the engine.
    return QIcon(new TrayIconEngine);
}

}  // namespace quillet
