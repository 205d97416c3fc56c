#include "ovview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

ovview::ovview(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void ovview::awakeFromNib()
{
    back.load(QStringLiteral(":/images/RaidGUI_velda_2.png"));
    update();
}

void ovview::paintEvent(QPaintEvent*)
{
    if (back.isNull())
        return;
    QPainter painter(this);
    // Source replaces destination: the image's own transparency shapes the window.
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(rect(), back, back.rect());
}

void ovview::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // The window manager moves it where it can; otherwise we follow the mouse ourselves.
    if (QWindow* handle = window()->windowHandle(); handle && handle->startSystemMove()) {
        event->accept();
        return;
    }
    dragging = true;
    drag_offset = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
    event->accept();
}

void ovview::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging)
        return QWidget::mouseMoveEvent(event);
    window()->move(event->globalPosition().toPoint() - drag_offset);
    event->accept();
}

void ovview::mouseReleaseEvent(QMouseEvent* event)
{
    dragging = false;
    QWidget::mouseReleaseEvent(event);
}
