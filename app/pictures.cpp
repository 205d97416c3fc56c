#include "pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QToolButton>

QPixmap disk_picture(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(size * 0.14, size * 0.04, size * 0.72, size * 0.92);
    QLinearGradient shade(body.topLeft(), body.bottomRight());
    shade.setColorAt(0, QColor(0x9a, 0xa7, 0xb8));
    shade.setColorAt(1, QColor(0x5c, 0x69, 0x7a));
    p.setPen(QPen(QColor(0x3d, 0x48, 0x57), size / 40.0));
    p.setBrush(shade);
    p.drawRoundedRect(body, size * 0.08, size * 0.08);
    const QPointF centre(size * 0.5, size * 0.42);
    p.setBrush(QColor(0xe3, 0xe8, 0xef));
    p.drawEllipse(centre, size * 0.27, size * 0.27);
    p.setBrush(QColor(0x8b, 0x97, 0xa8));
    p.drawEllipse(centre, size * 0.06, size * 0.06);
    p.setPen(QPen(QColor(0x2f, 0x6f, 0xd6), size / 16.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(size * 0.74, size * 0.84), QPointF(size * 0.56, size * 0.5));
    return pixmap;
}

void set_page_faces(QToolButton* main_button, QToolButton* disk_button, bool main_page)
{
    // The image is the button's face: its icon part stays whole, the rest stretches
    // under the text.
    const auto face = [](QToolButton* button, const char* image) {
        button->setProperty("image", image);
        // The face is an image, so focus shows in the caption: underlined and blue.
        button->setStyleSheet(QStringLiteral("QToolButton { border-image: url(:/images/%1) 0 6 0 44 stretch stretch;"
                                             " border-width: 0px 6px 0px 44px; padding: 0px 4px; }"
                                             " QToolButton:focus { text-decoration: underline; color: #1d4fa3; }")
                                  .arg(QLatin1String(image)));
    };
    face(disk_button, main_page ? "SysInfo_normal.png" : "SysInfo_click.png");
    face(main_button, main_page ? "RaidST_click.png" : "RaidST_normal.png");
    main_button->setChecked(main_page);
    disk_button->setChecked(!main_page);
}
