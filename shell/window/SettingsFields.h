#pragma once

#include <QObject>

class Koppeling;
class QCheckBox;
class QLineEdit;
class QWidget;

// Makes the window's fields that ARE the settings: each field is named after its setting, shows its value, and
// hands every change to the owner at once, so that the next use of the value sees it (as in the headless program).
class SettingsFields final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsFields)
public:
    explicit SettingsFields(Koppeling &koppeling, QObject *parent = nullptr);

    // The edit of the text value `name` ("BSA_BDR", "BSAServerPoort", ...).
    QLineEdit *edit(const char *name, QWidget *parent);
    // The check box of the flag `name` ("BSAAuto", ...) with its caption.
    QCheckBox *checkBox(const char *name, const QString &caption, QWidget *parent);

private:
    Koppeling &m_koppeling;
};
