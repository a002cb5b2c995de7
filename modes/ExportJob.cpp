#include "modes/ExportJob.h"

#include "core/Log.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QProgressDialog>
#include <QStandardPaths>

namespace {

QString g_program;
int g_runsStarted = 0;
constexpr int kErrorLines = 5;
constexpr int kBarSteps = 1000;

// "out_time_us=1234567" lines of FFmpeg's -progress output.
qint64 ProgressMs(const QByteArray &output)
{
    qint64 ms = -1;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("out_time_us=") || line.startsWith("out_time_ms=")) // both carry microseconds
            ms = line.mid(line.indexOf('=') + 1).trimmed().toLongLong() / 1000;
    }
    return ms;
}

} // namespace

ExportJob::ExportJob(QWidget *dialogParent) : m_dialogParent(dialogParent) {}

QString ExportJob::FfmpegPath()
{
    if (!g_program.isEmpty())
        return QFileInfo(g_program).isExecutable() ? g_program : QString();
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/ffmpeg");
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

void ExportJob::UseProgram(const QString &program)
{
    g_program = program;
}

int ExportJob::RunsStarted()
{
    return g_runsStarted;
}

ExportJob::Result ExportJob::Run(const QStringList &args, const QString &workDir, const QString &output,
                                 qint64 expectedMs)
{
    m_errorTail.clear();
    QFile::remove(output);
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(workDir);
    QStringList fullArgs = {QStringLiteral("-nostdin"), QStringLiteral("-progress"), QStringLiteral("pipe:1"),
                            QStringLiteral("-nostats")};
    fullArgs += args;
    QProgressDialog progress(QStringLiteral("正在导出，请稍候……"), QStringLiteral("取消"), 0, kBarSteps,
                             m_dialogParent);
    progress.setWindowTitle(QStringLiteral("导出到文件"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    progress.show();

    QEventLoop loop;
    bool cancelled = false;
    QByteArray errors;
    connect(&ffmpeg, &QProcess::readyReadStandardOutput, &progress, [&] {
        const qint64 ms = ProgressMs(ffmpeg.readAllStandardOutput());
        if (ms >= 0 && expectedMs > 0)
            progress.setValue(int(qBound(qint64(0), ms * kBarSteps / expectedMs, qint64(kBarSteps - 1))));
    });
    connect(&ffmpeg, &QProcess::readyReadStandardError, &progress, [&] {
        errors += ffmpeg.readAllStandardError();
        if (errors.size() > 65536)
            errors = errors.right(32768);
    });
    connect(&ffmpeg, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&ffmpeg, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        ffmpeg.kill();
        loop.quit();
    });

    ++g_runsStarted;
    PLOG(LOG_DEBUG, "cmd: %s %s", qPrintable(FfmpegPath()), qPrintable(fullArgs.join(QLatin1Char(' '))));
    ffmpeg.start(FfmpegPath(), fullArgs);
    if (ffmpeg.state() != QProcess::NotRunning || ffmpeg.waitForStarted(5000))
        loop.exec();
    if (ffmpeg.state() != QProcess::NotRunning)
        ffmpeg.waitForFinished(5000);
    progress.disconnect(&loop); // closing the dialog emits canceled()
    progress.hide();

    errors += ffmpeg.readAllStandardError();
    const QList<QByteArray> lines = errors.trimmed().split('\n');
    m_errorTail = QString::fromLocal8Bit(lines.mid(qMax(0, int(lines.size()) - kErrorLines)).join('\n'));

    const bool ok = !cancelled && ffmpeg.exitStatus() == QProcess::NormalExit && ffmpeg.exitCode() == 0
                    && ffmpeg.error() != QProcess::FailedToStart && QFileInfo(output).size() > 0;
    if (!ok)
        QFile::remove(output);
    if (cancelled)
        return Result::Cancelled;
    return ok ? Result::Done : Result::Failed;
}
