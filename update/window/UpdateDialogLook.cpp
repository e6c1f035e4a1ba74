#include "UpdateDialogLook.h"

#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QStyle>

namespace UpdateDialogLook {

void apply(QDialog *dialog)
{
    QPalette palette = dialog->palette();
    palette.setColor(QPalette::Window, Qt::white);
    dialog->setPalette(palette);
    dialog->setAutoFillBackground(true);
    dialog->setFont(QFont(QStringLiteral("Segoe UI"), 9));
    dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    dialog->layout()->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget *picture(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("Picture"));
    label->setPixmap(parent->style()->standardIcon(QStyle::SP_BrowserReload).pixmap(48, 48));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setMargin(16);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor(0x1f, 0x5f, 0xa8));
    label->setPalette(palette);
    return label;
}

void centreOnScreen(QDialog *dialog)
{
    if (const QScreen *screen = dialog->screen())
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
}

} // namespace UpdateDialogLook
