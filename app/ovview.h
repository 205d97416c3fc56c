// The window's background view: draws its image over the whole content area and,
// since the window has no title bar, moves the window when its background is dragged.
#pragma once

#include <QPixmap>
#include <QPoint>
#include <QWidget>

class ovview : public QWidget {
    Q_OBJECT
public:
    explicit ovview(QWidget* parent = nullptr);
    void awakeFromNib();
    const QPixmap& background() const { return back; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QPixmap back;
    bool dragging = false;
    QPoint drag_offset;
};
