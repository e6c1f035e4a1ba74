#include "UpdateNotifyDialog.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "update/window/UpdateDialogLook.h"

UpdateNotifyDialog::UpdateNotifyDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Nieuwe versie is beschikbaar"));

    m_readmeMemo = new QPlainTextEdit(this);
    m_readmeMemo->setObjectName(QStringLiteral("ReadmeMemo"));
    m_readmeMemo->setReadOnly(true);
    m_readmeMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_readmeMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_readmeMemo->setFont(QFont(QStringLiteral("Arial"), 9));
    m_readmeMemo->setFixedSize(420, 220);

    m_downloadButton = new QPushButton(QStringLiteral("Download en installeer"), this);
    m_downloadButton->setObjectName(QStringLiteral("DownloadButton"));
    m_openWebPageButton = new QPushButton(QStringLiteral("Open webpagina"), this);
    m_openWebPageButton->setObjectName(QStringLiteral("OpenWebPageButton"));
    m_okButton = new QPushButton(QStringLiteral("OK"), this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setDefault(true); // Enter; Escape rejects, which closes the dialog the same way
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_downloadButton);
    buttons->addWidget(m_openWebPageButton);
    buttons->addStretch();
    buttons->addWidget(m_okButton);
    auto *content = new QVBoxLayout;
    content->setContentsMargins(12, 12, 12, 12);
    content->addWidget(m_readmeMemo);
    content->addLayout(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(content);
    layout->addWidget(UpdateDialogLook::picture(this));
    UpdateDialogLook::apply(this);
}

void UpdateNotifyDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    UpdateDialogLook::centreOnScreen(this);
}
