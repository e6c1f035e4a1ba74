#pragma once

class QDialog;
class QWidget;

// The look both update dialogs share: white, a fixed size, a picture along the right edge, centred on the screen.
namespace UpdateDialogLook {

// White background, the dialogs' font, a fixed size; call once the layout is complete.
void apply(QDialog *dialog);
// The picture along the right edge.
QWidget *picture(QWidget *parent);
void centreOnScreen(QDialog *dialog);

} // namespace UpdateDialogLook
