#pragma once

#include <QPlainTextEdit>
#include <QStringList>

// The operator log on the tab "Logboek". New lines are appended, never the whole text set again, so a log of
// thousands of lines stays quick. The operator may type in it as well; whatever it then holds is the log.
class LogView final : public QPlainTextEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LogView)
public:
    explicit LogView(QWidget *parent = nullptr);

    void appendLine(const QString &line);
    void showLines(const QStringList &lines);
    void clearLines();
    // The lines shown, one per row.
    QStringList lines() const;

signals:
    // The operator changed the text; not emitted for the lines the link adds.
    void edited(const QStringList &lines);

private:
    bool m_updating = false;
};
