#include "state_icons.h"

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace ov {

namespace {

QColor colour_of(chip_state state)
{
    switch (state) {
    case chip_state::healthy: return QColor(0x2e, 0x9d, 0x3f);
    case chip_state::rebuilding: return QColor(0x2f, 0x6f, 0xc8);
    case chip_state::degraded:
    case chip_state::out_of_step: return QColor(0xe0, 0x8a, 0x00);
    case chip_state::broken:
    case chip_state::disk_silent: return QColor(0xc8, 0x2a, 0x2a);
    case chip_state::not_configured: break;
    }
    return QColor(0x8a, 0x8a, 0x8a);
}

// The mark, drawn in a 16 x 16 box.
void draw_mark(QPainter& p, chip_state state)
{
    QPen pen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    switch (state) {
    case chip_state::healthy: {
        const QPointF tick[] = {{4.6, 8.3}, {7.0, 10.7}, {11.4, 5.6}};
        p.drawPolyline(tick, 3);
        break;
    }
    case chip_state::rebuilding: {
        // A turning arrow: the copy goes round.
        p.drawArc(QRectF(4.5, 4.5, 7, 7), 60 * 16, 270 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        const QPointF head[] = {{8.6, 2.6}, {11.6, 4.9}, {8.2, 6.4}};
        p.drawPolygon(head, 3);
        break;
    }
    case chip_state::degraded:
        p.drawLine(QPointF(8, 4), QPointF(8, 9));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8, 11.8), 1.1, 1.1);
        break;
    case chip_state::out_of_step:
        // Two halves that do not line up.
        p.drawLine(QPointF(4.2, 6.3), QPointF(9.2, 6.3));
        p.drawLine(QPointF(6.8, 9.7), QPointF(11.8, 9.7));
        break;
    case chip_state::broken:
        p.drawLine(QPointF(5.4, 5.4), QPointF(10.6, 10.6));
        p.drawLine(QPointF(10.6, 5.4), QPointF(5.4, 10.6));
        break;
    case chip_state::disk_silent:
        // Dots: a disk that does not answer.
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        for (double x : {4.8, 8.0, 11.2})
            p.drawEllipse(QPointF(x, 8), 1.15, 1.15);
        break;
    case chip_state::not_configured:
        p.drawLine(QPointF(5, 8), QPointF(11, 8));
        break;
    }
}

QPixmap drawn(chip_state state, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    p.setPen(QPen(colour_of(state).darker(130), 0.8));
    p.setBrush(colour_of(state));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    draw_mark(p, state);
    return pixmap;
}

}  // namespace

QIcon state_icon(chip_state state)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(drawn(state, size));
    return icon;
}

}  // namespace ov
