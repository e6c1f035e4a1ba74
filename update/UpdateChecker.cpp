#include "UpdateChecker.h"

#include <QStringDecoder>
#include <QTimer>

#include "update/UpdateVersion.h"

QString decodeUpdateText(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

UpdateChecker::UpdateChecker(const QString &programFile, const QString &version, QObject *parent)
    : QObject(parent)
    , Version(version)
    , m_section(descriptionSection(programFile))
{
    connect(&m_http, &UpdateHttpClient::finished, this, [this](const UpdateHttpResult &answer) {
        if (m_aborted)
            m_running = false;
        else if (m_step == Step::Description)
            descriptionFetched(answer);
        else
            readmeFetched(answer);
    });
}

bool UpdateChecker::start()
{
    if (m_running)
        return false;
    m_running = true;
    m_aborted = false;
    m_result = UpdateCheckResult();
    m_step = Step::Description;
    if (UpdateFileURL.isEmpty() || !m_http.get(UpdateFileURL))
        fetchReadme();
    return true;
}

void UpdateChecker::abort()
{
    if (!m_running)
        return;
    m_aborted = true;
    m_http.abort();
}

void UpdateChecker::descriptionFetched(const UpdateHttpResult &answer)
{
    if (answer.ok) {
        UpdateDescription &description = m_result.description;
        description = UpdateDescription::fromIni(decodeUpdateText(answer.body), m_section);
        // An address in the description may be relative to the description itself.
        for (QString *address :
            { &description.DownloadFileURL, &description.ReadmeFileURL, &description.UpdatePageURL }) {
            if (!address->isEmpty())
                *address = UpdateFileURL.resolved(QUrl(*address)).toString();
        }
    } else {
        m_result.failure = UpdateFileURL.toDisplayString() + u' ' + answer.failureText();
    }
    if (m_result.description.UpdatePageURL.isEmpty())
        m_result.description.UpdatePageURL = UpdatePageURL.toString();
    fetchReadme();
}

void UpdateChecker::fetchReadme()
{
    m_step = Step::Readme;
    const QString readme = m_result.description.ReadmeFileURL;
    if (readme.isEmpty() || !m_http.get(QUrl(readme)))
        finish();
}

void UpdateChecker::readmeFetched(const UpdateHttpResult &answer)
{
    m_result.readme = answer.ok ? decodeUpdateText(answer.body) : answer.failureText();
    finish();
}

void UpdateChecker::finish()
{
    m_result.newer = isNewerVersion(Version, m_result.description.Version);
    // From the event loop, also when there was nothing to fetch: the caller of start() is never re-entered.
    QTimer::singleShot(0, this, [this] {
        m_running = false;
        if (!m_aborted)
            emit finished(m_result);
    });
}
