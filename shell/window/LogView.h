#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

// The operator log on the tab "Logboek". New lines are appended, never the whole text set again, and gathered for
// a moment first: a busy link logs hundreds of lines a second, and showing each on its own would spend the one
// thread on painting. The operator may type in it as well; whatever it then holds is the log.
class LogView final : public QPlainTextEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogView)
public:
    explicit LogView(QWidget *parent = nullptr);

    void appendLine(const QString &line);
    void showLines(const QStringList &lines);
    void clearLines();
    // The lines of the log, one per row: those shown and those about to be.
    QStringList lines() const;
    // Shows the gathered lines now.
    void flush();

signals:
    // The operator changed the text; not emitted for the lines the link adds.
    void edited(const QStringList &lines);

private:
    QStringList m_pending; // lines of the log not shown yet; they follow the shown ones
    QTimer m_flush;
    bool m_updating = false;
};
