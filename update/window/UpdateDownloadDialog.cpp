#include "UpdateDownloadDialog.h"

#include <limits>

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "update/DownloadFigures.h"
#include "update/window/UpdateDialogLook.h"

namespace {

constexpr std::chrono::milliseconds ClockInterval { 1000 };

QString transferText(qint64 received, qint64 size)
{
    const qint64 percent = size > 0 ? received * 100 / size : 0;
    return QStringLiteral("%1 of %2 (%3%)").arg(FormatFileSize(received), FormatFileSize(size)).arg(percent);
}

} // namespace

UpdateDownloadDialog::UpdateDownloadDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Download nieuwe versie"));
    setModal(false);

    auto makeValue = [this](const char *name, const QString &initial) {
        auto *label = new QLabel(initial, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setMinimumWidth(260);
        return label;
    };
    m_fileLabel = makeValue("FileLabel", QStringLiteral("-"));
    m_speedLabel = makeValue("SpeedLabel", QStringLiteral("0 KB/sec"));
    m_statusLabel = makeValue("StatusLabel", QStringLiteral("Downloading file"));
    m_elapsedTimeLabel = makeValue("ElapsedTimeLabel", QStringLiteral("00:00:00"));
    m_remainingTimeLabel = makeValue("RemainingTimeLabel", QStringLiteral("00:00:00"));
    m_transferLabel = makeValue("TransferLabel", QStringLiteral("0 KB of 0 KB"));

    auto *figures = new QGridLayout;
    figures->setHorizontalSpacing(16);
    const std::pair<const char *, QLabel *> rows[] = {
        { "Bestand:", m_fileLabel },
        { "Snelheid:", m_speedLabel },
        { "Status :", m_statusLabel },
        { "Verstreken tijd :", m_elapsedTimeLabel },
        { "Resterende tijd :", m_remainingTimeLabel },
        { "Overdracht :", m_transferLabel },
    };
    int row = 0;
    for (const auto &[caption, value] : rows) {
        figures->addWidget(new QLabel(QString::fromUtf8(caption), this), row, 0);
        figures->addWidget(value, row, 1);
        ++row;
    }

    m_progressBar = new QProgressBar(this);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setRange(0, 0);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);

    m_cancelButton = new QPushButton(QStringLiteral("AFBREKEN"), this);
    m_cancelButton->setObjectName(QStringLiteral("CancelButton"));
    m_cancelButton->setDefault(true);
    m_cancelButton->setEnabled(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &UpdateDownloadDialog::CancelButtonClick);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    auto *content = new QVBoxLayout;
    content->setContentsMargins(12, 12, 12, 12);
    content->addLayout(figures);
    content->addWidget(m_progressBar);
    content->addLayout(buttons);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(content);
    layout->addWidget(UpdateDialogLook::picture(this));
    UpdateDialogLook::apply(this);

    m_clock.setInterval(ClockInterval);
    connect(&m_clock, &QTimer::timeout, this, &UpdateDownloadDialog::tick);
}

void UpdateDownloadDialog::setFileName(const QString &name)
{
    m_fileLabel->setText(name);
}

void UpdateDownloadDialog::setStatus(const QString &status)
{
    m_statusLabel->setText(status);
}

int UpdateDownloadDialog::barValue(qint64 bytes) const
{
    return int(qBound<qint64>(0, bytes, m_size) >> m_barShift);
}

void UpdateDownloadDialog::setSize(qint64 size)
{
    m_received = 0;
    setTotal(size);
    m_cancelButton->setEnabled(true);
}

void UpdateDownloadDialog::setTotal(qint64 size)
{
    m_size = qMax<qint64>(0, size);
    m_barShift = 0;
    while ((m_size >> m_barShift) > std::numeric_limits<int>::max())
        ++m_barShift;
    m_progressBar->setRange(0, barValue(m_size));
    showTransfer(m_received);
}

void UpdateDownloadDialog::showTransfer(qint64 received)
{
    m_received = received;
    m_transferLabel->setText(transferText(received, m_size));
    m_progressBar->setValue(barValue(received));
}

void UpdateDownloadDialog::startClock()
{
    m_started.start();
    m_clock.start();
}

void UpdateDownloadDialog::tick()
{
    const qint64 elapsed = m_started.isValid() ? m_started.elapsed() : 0;
    m_speedLabel->setText(FormatFileSize(downloadSpeed(m_received, elapsed)) + QStringLiteral("/sec"));
    m_elapsedTimeLabel->setText(formatDuration(elapsed));
    if (m_received > 0)
        m_remainingTimeLabel->setText(formatDuration(remainingMilliseconds(m_size, m_received, elapsed)));
}

void UpdateDownloadDialog::finishTransfer()
{
    m_clock.stop();
    m_cancelButton->setEnabled(false);
    m_progressBar->setValue(m_progressBar->maximum());
    delete m_question; // a question still open is moot now
}

void UpdateDownloadDialog::markCancelled()
{
    m_cancelButton->setEnabled(false);
    m_clock.stop();
}

void UpdateDownloadDialog::CancelButtonClick()
{
    if (!m_cancelButton->isEnabled() || m_question)
        return;
    m_question = new QMessageBox(QMessageBox::Question, QString(), QStringLiteral("Deze software update afbreken?"),
        QMessageBox::Yes | QMessageBox::No, this);
    m_question->setAttribute(Qt::WA_DeleteOnClose);
    QMessageBox *question = m_question;
    connect(question, &QMessageBox::finished, this, [this, question] {
        if (question->standardButton(question->clickedButton()) == QMessageBox::Yes && m_cancelButton->isEnabled())
            emit cancelConfirmed();
    });
    m_question->open();
}

void UpdateDownloadDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    UpdateDialogLook::centreOnScreen(this);
}

void UpdateDownloadDialog::closeEvent(QCloseEvent *event)
{
    // The window's close box asks the same question as "AFBREKEN"; the owner closes the dialog when it is done.
    event->ignore();
    CancelButtonClick();
}

void UpdateDownloadDialog::reject()
{
    CancelButtonClick();
}
