#include "CloudEngine.h"

#include "Log.h"
#include "SettingsValues.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QThread>
#include <QtDebug>

namespace {

QMutex g_processesMutex;
QList<qint64> g_processes;

void WriteTextFile(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    QFile file(QStringLiteral("tmp.txt"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        PLOG(LOG_ERROR, "open tmp.txt failed");
        return;
    }
    const qint64 written = file.write(bytes);
    PLOG(LOG_DEBUG, "ready to tts: %s, ret = %lld", bytes.constData(), written);
}

} // namespace

// Counts readings that repeat a non-zero size; four equal ones in a row end it.
void CloudEngine::WaitUntilStable(const QString &path, const std::atomic<bool> *abort)
{
    qint64 previous = -1;
    int stable = 0;
    for (int check = 0; check < CloudEngine::kWatchChecks; ++check) {
        if (abort && abort->load())
            return;
        const qint64 size = QFileInfo(path).exists() ? QFileInfo(path).size() : 0;
        qDebug("%s, size = %lld", qPrintable(path), size);
        if (size > 0) {
            stable = size == previous ? stable + 1 : 0;
            previous = size;
        }
        if (stable > 2)
            return;
        QThread::msleep(CloudEngine::kWatchIntervalMs);
    }
}

QString CloudEngine::SpeedValue(int speed)
{
    return QString::number(speed * 0.2 - 0.9999, 'g', 6);
}

QString CloudEngine::ProgramPath()
{
    const QString dir = QCoreApplication::instance()
                            ? QCoreApplication::applicationDirPath()
                            : QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget().section('/', 0, -2);
    return dir + QStringLiteral("/tcloud_tts");
}

QStringList CloudEngine::Arguments(const QString &wavPath, const QString &voiceNumber, int speed, int volume)
{
    return {wavPath, voiceNumber, SpeedValue(speed), QString::number(volume)};
}

void CloudEngine::Synthesize(const QString &text, const QString &voiceNumber, const QString &wavPath,
                             const std::atomic<bool> *abort)
{
    WriteTextFile(text);
    const QString program = ProgramPath();
    const QStringList args = Arguments(wavPath, voiceNumber, g_settings.speed, g_settings.volume);
    qint64 pid = 0;
    // An argument list, never a shell: no text or path is read as a command.
    if (QProcess::startDetached(program, args, QDir::currentPath(), &pid)) {
        QMutexLocker lock(&g_processesMutex);
        g_processes.append(pid);
    } else {
        PLOG(LOG_ERROR, "start %s failed", qPrintable(program));
    }
    WaitUntilStable(wavPath, abort);
    qDebug("cmd: %s \"%s\"", qPrintable(program), qPrintable(args.join(QStringLiteral("\" \""))));
}

QList<qint64> CloudEngine::StartedProcesses()
{
    QMutexLocker lock(&g_processesMutex);
    return g_processes;
}

void CloudEngine::ForgetProcesses()
{
    QMutexLocker lock(&g_processesMutex);
    g_processes.clear();
}
