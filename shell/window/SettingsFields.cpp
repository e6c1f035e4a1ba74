#include "SettingsFields.h"

#include <cstring>

#include <QCheckBox>
#include <QLineEdit>

#include "settings/Settings.h"
#include "shell/Koppeling.h"

namespace {

struct TextField
{
    const char *name;
    QString Settings::*value;
};

struct Flag
{
    const char *name;
    bool Settings::*value;
};

constexpr TextField TextFields[] = {
    { "xLoginDatabase", &Settings::xLoginDatabase },
    { "xLoginServer", &Settings::xLoginServer },
    { "xLoginSQL", &Settings::xLoginSQL },
    { "xPaswoordSQL", &Settings::xPaswoordSQL },
    { "BSA_BDR", &Settings::BSA_BDR },
    { "BSA_DEB", &Settings::BSA_DEB },
    { "PZN_FILTER", &Settings::PZN_FILTER },
    { "DecimaalTeken", &Settings::DecimaalTeken },
    { "PZN_Taxi", &Settings::PZN_Taxi },
    { "PZN_Bus", &Settings::PZN_Bus },
    { "PZN_Rolstoelbus", &Settings::PZN_Rolstoelbus },
    { "BSA_Tarief", &Settings::BSA_Tarief },
    { "BSAHostAdres", &Settings::BSAHostAdres },
    { "BSAHostPoort", &Settings::BSAHostPoort },
    { "Gebruiker", &Settings::Gebruiker },
    { "SoftwareVersie", &Settings::SoftwareVersie },
    { "BSABedrijf", &Settings::BSABedrijf },
    { "SoortVervoer", &Settings::SoortVervoer },
    { "BSAToegestaneAdressen", &Settings::BSAToegestaneAdressen },
    { "BSAServerPoort", &Settings::BSAServerPoort },
    { "Ritnummer", &Settings::Ritnummer },
};

constexpr Flag Flags[] = {
    { "BSATerug", &Settings::BSATerug },
    { "bsaCRLF", &Settings::bsaCRLF },
    { "BSAAuto", &Settings::BSAAuto },
};

template <typename Field, std::size_t N> const Field &find(const Field (&fields)[N], const char *name)
{
    for (const Field &field : fields) {
        if (std::strcmp(field.name, name) == 0)
            return field;
    }
    qFatal("The window asked for a field that is no setting: %s", name);
}

} // namespace

SettingsFields::SettingsFields(Koppeling &koppeling, QObject *parent)
    : QObject(parent)
    , m_koppeling(koppeling)
{ }

QLineEdit *SettingsFields::edit(const char *name, QWidget *parent)
{
    QString Settings::*value = find(TextFields, name).value;
    auto *edit = new QLineEdit(m_koppeling.settings().*value, parent);
    edit->setObjectName(QLatin1String(name));
    // Every change counts, typed or pasted: the field is the value.
    connect(edit, &QLineEdit::textChanged, this, [this, value](const QString &text) {
        Settings settings = m_koppeling.settings();
        settings.*value = text;
        m_koppeling.setSettings(settings);
    });
    return edit;
}

QCheckBox *SettingsFields::checkBox(const char *name, const QString &caption, QWidget *parent)
{
    bool Settings::*value = find(Flags, name).value;
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(m_koppeling.settings().*value);
    connect(box, &QCheckBox::toggled, this, [this, value](bool checked) {
        Settings settings = m_koppeling.settings();
        settings.*value = checked;
        m_koppeling.setSettings(settings);
    });
    return box;
}
