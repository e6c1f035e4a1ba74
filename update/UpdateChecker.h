#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include "update/UpdateDescription.h"
#include "update/UpdateHttpClient.h"

// What one check found.
struct UpdateCheckResult
{
    UpdateDescription description; // empty when the description could not be read
    QString readme; // the readme's text, or "Mislukt: " and the reason
    bool newer = false; // the offered version is newer than the running one
    QString failure; // why the description could not be read: its address and "Mislukt: " with the reason
};

// The update check without its dialogs: fetches the description of this program from the update server, then
// the readme it names, and compares the versions. The window shows what it found.
class UpdateChecker final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateChecker)
public:
    // programFile names the description's section; version is the running program's ("9.0.1.14").
    UpdateChecker(const QString &programFile, const QString &version, QObject *parent = nullptr);

    QUrl UpdateFileURL; // where the description lies; empty skips the fetch
    QUrl UpdatePageURL; // the update web page when the description names none
    QString Version; // the running program's version

    UpdateHttpClient &http() { return m_http; }

    // Starts a check; false when one is already running (nothing else happens then).
    bool start();
    bool isRunning() const { return m_running; }
    // Ends a running check without a result.
    void abort();

signals:
    void finished(const UpdateCheckResult &result);

private:
    void descriptionFetched(const UpdateHttpResult &answer);
    void fetchReadme();
    void readmeFetched(const UpdateHttpResult &answer);
    void finish();

    enum class Step { Description, Readme };

    QString m_section;
    UpdateHttpClient m_http;
    UpdateCheckResult m_result;
    Step m_step = Step::Description;
    bool m_running = false;
    bool m_aborted = false;
};

// Text of a file fetched from the update server: UTF-8 when it is valid UTF-8, else Latin-1, with CR LF line
// ends made LF.
QString decodeUpdateText(const QByteArray &bytes);
Q_DECLARE_METATYPE(UpdateCheckResult)
