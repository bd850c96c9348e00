// Pictures of the base screens' flat buttons, drawn at run time (the system
// ships no image files). Each is 32 x 32 with a transparent background.
#pragma once

#include <QPixmap>

class QToolButton;

namespace trd::gui {

QPixmap ImportPicture();   // a sheet with an arrow down into a tray
QPixmap CancelPicture();   // a red disc with a white cross
QPixmap ConfirmPicture();  // a green tick

// Gives a flat button its picture (TButtonFlat.SetGlyph).
void SetGlyph(QToolButton* button, const QPixmap& picture);

}  // namespace trd::gui
