// What the window draws itself: the drive picture beside each disk, and the faces of the
// two page buttons.
#pragma once

#include <QPixmap>

class QToolButton;

// A drive seen from above: body, platter and head, drawn for any size.
QPixmap disk_picture(int size);
// The page on view is told apart by its button's picture and by its checked state.
void set_page_faces(QToolButton* main_button, QToolButton* disk_button, bool main_page);
