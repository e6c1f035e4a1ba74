#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

class QLabel;
class QMessageBox;
class QProgressBar;
class QPushButton;

// The progress of a download: file, speed, status, elapsed and remaining time, bytes transferred, a progress bar
// and "AFBREKEN". Not modal: the program goes on while it shows. It is only a view; its owner feeds it the
// download's figures and hears from it when the operator confirmed the cancel.
class UpdateDownloadDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateDownloadDialog)
public:
    explicit UpdateDownloadDialog(QWidget *parent = nullptr);

    void setFileName(const QString &name);
    void setStatus(const QString &status);
    // The size from HEAD: the progress bar's maximum, and "0 B of <size> (0%)". Enables the cancel button.
    void setSize(qint64 size);
    // A better-known size (the body turned out larger or smaller than HEAD said): the bar and the transfer text
    // follow it; the cancel button stays as it is.
    void setTotal(qint64 size);
    // Bytes received so far: the transfer text and the bar.
    void showTransfer(qint64 received);
    // The clock of speed, elapsed and remaining time: starts ticking every second.
    void startClock();
    // The download has ended: the clock stops, the bar stands at its maximum, the cancel question is withdrawn.
    void finishTransfer();
    // After a confirmed cancel: the button is disabled and the clock stops.
    void markCancelled();

    // Handler of "AFBREKEN": asks "Deze software update afbreken?"; Yes gives cancelConfirmed().
    void CancelButtonClick();
    // One tick of the clock; a second's timer calls it while the download runs.
    void tick();

    QLabel *FileLabel() const { return m_fileLabel; }
    QLabel *SpeedLabel() const { return m_speedLabel; }
    QLabel *StatusLabel() const { return m_statusLabel; }
    QLabel *ElapsedTimeLabel() const { return m_elapsedTimeLabel; }
    QLabel *RemainingTimeLabel() const { return m_remainingTimeLabel; }
    QLabel *TransferLabel() const { return m_transferLabel; }
    QProgressBar *ProgressBar1() const { return m_progressBar; }
    QPushButton *CancelButton() const { return m_cancelButton; }

signals:
    void cancelConfirmed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    int barValue(qint64 bytes) const;

    QLabel *m_fileLabel = nullptr;
    QLabel *m_speedLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_elapsedTimeLabel = nullptr;
    QLabel *m_remainingTimeLabel = nullptr;
    QLabel *m_transferLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPointer<QMessageBox> m_question;
    QTimer m_clock;
    QElapsedTimer m_started;
    qint64 m_size = 0;
    qint64 m_received = 0;
    int m_barShift = 0; // the bar counts in units of 2^shift bytes, as its values are ints
};
