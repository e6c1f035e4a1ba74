#include "SettingsFields.h"

#include <cstring>

#include <QCheckBox>
#include <QLineEdit>

#include "settings/Settings.h"
#include "shell/Koppeling.h"

namespace {

// The setting that the field `name` shows, of the kind the field edits.
const SettingEntry &find(const char *name, SettingEntry::Kind kind)
{
    for (const SettingEntry &entry : SettingsTable) {
        if (entry.kind == kind && std::strcmp(entry.name, name) == 0)
            return entry;
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
    QString Settings::*value = find(name, SettingEntry::Kind::Text).text;
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
    bool Settings::*value = find(name, SettingEntry::Kind::Flag).flag;
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
