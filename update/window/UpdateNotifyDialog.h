#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

// The offer of a newer version: the readme, "Download en installeer", "Open webpagina" and "OK". Enter and
// Escape close it, as OK does.
class UpdateNotifyDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateNotifyDialog)
public:
    explicit UpdateNotifyDialog(QWidget *parent = nullptr);

    QPlainTextEdit *ReadmeMemo() const { return m_readmeMemo; }
    QPushButton *DownloadButton() const { return m_downloadButton; }
    QPushButton *OpenWebPageButton() const { return m_openWebPageButton; }
    QPushButton *OKButton() const { return m_okButton; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QPlainTextEdit *m_readmeMemo = nullptr;
    QPushButton *m_downloadButton = nullptr;
    QPushButton *m_openWebPageButton = nullptr;
    QPushButton *m_okButton = nullptr;
};
