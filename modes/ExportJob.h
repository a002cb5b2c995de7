#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

// Runs FFmpeg for the word-mode export: an argument list (no shell), one
// run at a time, a modal progress dialog with a cancel button, the window
// kept responsive. A run succeeds only when FFmpeg exits with status 0
// and its output is a non-empty file.
class ExportJob : public QObject
{
    Q_OBJECT

public:
    enum class Result { Done, Failed, Cancelled };

    explicit ExportJob(QWidget *dialogParent);

    // FFmpeg beside the executable, else on PATH; empty when there is none.
    static QString FfmpegPath();
    // Runs another program in FFmpeg's place (tests use stand-ins); empty
    // restores the lookup.
    static void UseProgram(const QString &program);
    // How many runs were started in this process.
    static int RunsStarted();

    // Runs FFmpeg with args in workDir; expectedMs of output audio moves
    // the progress bar. A failed or cancelled run leaves no output file.
    Result Run(const QStringList &args, const QString &workDir, const QString &output, qint64 expectedMs);
    // FFmpeg's last lines of error output, for the log.
    QString ErrorTail() const { return m_errorTail; }

private:
    QWidget *m_dialogParent;
    QString m_errorTail;
};
