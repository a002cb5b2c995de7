#include "speech/CloudEngine.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "speech/WavFile.h"
#include "core/SettingsValues.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtDebug>
#include <QtEndian>

#include <csignal>

namespace {

constexpr int kQuickLookMs = 10;

struct Started
{
    qint64 pid;
    QByteArray startTime; // field 22 of /proc/<pid>/stat: tells a reused id apart
};

QMutex g_processesMutex;
QList<Started> g_processes;

QByteArray StartTimeOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray line = stat.readAll();
    // The command name (field 2) may hold blanks; count fields after its ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(19); // field 22 overall
}

// Still the process we started: same start time, our program, not a zombie.
bool IsOurRunningProgram(const Started &started)
{
    const QByteArray now = StartTimeOf(started.pid);
    if (now.isEmpty() || now != started.startTime)
        return false;
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(started.pid)).symLinkTarget();
    return QFileInfo(exe).canonicalFilePath() == QFileInfo(CloudEngine::ProgramPath()).canonicalFilePath();
}

// Hands the text over in tmp.txt of the program's working folder. False
// when the text cannot be carried by the 8-bit encoding the program reads,
// or the file cannot be written whole: the program must then not run, or
// it would speak whatever an earlier tmp.txt held.
bool WriteTextFile(const QString &folder, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    if (QString::fromLocal8Bit(bytes) != text) {
        PLOG(LOG_WARNING, "%s", "the text cannot be handed to the cloud engine: it does not survive the encoding");
        return false;
    }
    QFile file(folder + QStringLiteral("/tmp.txt"));
    const bool written = file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::NewOnly)
                         && file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        PLOG(LOG_WARNING, "cannot write %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return false;
    }
    PLOG(LOG_DEBUG, "ready to tts: %d bytes", int(bytes.size()));
    return true;
}

// A WAV whose data chunk (found by walking the chunks) holds everything its
// header announces has been written completely.
bool HeaderSaysComplete(const QString &path, qint64 size)
{
    WavFile::Info info;
    QFile file(path);
    if (size <= WavFile::kHeaderSize || !file.open(QIODevice::ReadOnly) || !WavFile::ReadInfo(path, &info))
        return false;
    QByteArray sizeField(4, '\0');
    return file.seek(info.dataOffset - 4) && file.read(sizeField.data(), 4) == 4
           && info.dataOffset + qFromLittleEndian<quint32>(sizeField.constData()) == size;
}

} // namespace

// Ends when the file's header says it is whole, or when the program has
// ended (its file is then final, whatever it holds). Only a writer that is
// not watched (no programRunning) is judged by its size: four equal
// non-zero readings in a row. A program that is still running is never cut
// short by a pause in its writing.
void CloudEngine::WaitUntilStable(const QString &path, const std::atomic<bool> *abort,
                                  const std::function<bool()> &programRunning)
{
    qint64 previous = -1;
    int stable = 0;
    for (int check = 0; check < CloudEngine::kWatchChecks; ++check) {
        if (abort && abort->load())
            return;
        // Asked before the size is read: a program found ended has written
        // all it will.
        const bool running = !programRunning || programRunning();
        const qint64 size = QFileInfo(path).exists() ? QFileInfo(path).size() : 0;
        if (HeaderSaysComplete(path, size))
            return;
        if (!running) {
            if (size == 0)
                PLOG(LOG_WARNING, "%s ended without writing %s", qPrintable(ProgramPath()), qPrintable(path));
            return;
        }
        if (!programRunning && size > 0) {
            stable = size == previous ? stable + 1 : 0;
            previous = size;
            if (stable > 2)
                return;
        }
        // Between the readings, look often for a file that says it is whole.
        for (int ms = 0; ms < CloudEngine::kWatchIntervalMs; ms += kQuickLookMs) {
            QThread::msleep(kQuickLookMs);
            if ((abort && abort->load()) || HeaderSaysComplete(path, QFileInfo(path).size()))
                break;
        }
    }
    PLOG(LOG_WARNING, "%s: no complete file after %d ms", qPrintable(path), kWatchChecks * kWatchIntervalMs);
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
    // Beside the program in a build, in the private libexec folder when installed.
    const QString beside = dir + QStringLiteral("/tcloud_tts");
    const QString installed = dir + QStringLiteral("/../libexec/parlivo/tcloud_tts");
    return !QFileInfo::exists(beside) && QFileInfo::exists(installed) ? QFileInfo(installed).canonicalFilePath() : beside;
}

QStringList CloudEngine::Arguments(const QString &wavPath, const QString &voiceNumber, int speed, int volume)
{
    return {wavPath, voiceNumber, SpeedValue(speed), QString::number(volume)};
}

QString CloudEngine::WorkFolderTemplate()
{
    return AppPaths::SpeechCacheDir() + QStringLiteral("cloud-XXXXXX");
}

bool CloudEngine::Synthesize(const QString &text, const QString &voiceNumber, const QString &wavPath,
                             const std::atomic<bool> *abort)
{
    QFile::remove(wavPath); // only what this run writes counts
    // A private folder per request (owner-only, made new): no other text,
    // user or request can stand in for this one's tmp.txt.
    AppPaths::EnsureSpeechCacheDir();
    QTemporaryDir work(WorkFolderTemplate());
    if (!work.isValid()) {
        PLOG(LOG_WARNING, "no working folder for the cloud engine: %s", qPrintable(work.errorString()));
        return false;
    }
    if (!WriteTextFile(work.path(), text))
        return false;
    const QString program = ProgramPath();
    // The program runs in the working folder: the target is named in full.
    const QStringList args =
        Arguments(QFileInfo(wavPath).absoluteFilePath(), voiceNumber, g_settings.speed, g_settings.volume);
    qDebug("cmd: %s \"%s\"", qPrintable(program), qPrintable(args.join(QStringLiteral("\" \""))));
    qint64 pid = 0;
    // An argument list, never a shell: no text or path is read as a command.
    if (!QProcess::startDetached(program, args, work.path(), &pid)) {
        PLOG(LOG_ERROR, "start %s failed", qPrintable(program));
        return false; // nothing will come: no watch
    }
    const Started started{pid, StartTimeOf(pid)};
    {
        QMutexLocker lock(&g_processesMutex);
        g_processes.append(started);
    }
    WaitUntilStable(wavPath, abort, [started] { return IsOurRunningProgram(started); });
    return QFileInfo(wavPath).size() > WavFile::kHeaderSize;
}

QList<qint64> CloudEngine::StartedProcesses()
{
    QMutexLocker lock(&g_processesMutex);
    QList<qint64> running;
    QList<Started> kept;
    for (const Started &started : std::as_const(g_processes)) {
        if (!IsOurRunningProgram(started))
            continue;
        kept.append(started);
        running.append(started.pid);
    }
    g_processes = kept;
    return running;
}

int CloudEngine::EndStartedProcesses()
{
    int ended = 0;
    for (const qint64 pid : StartedProcesses()) {
        if (::kill(pid_t(pid), SIGKILL) == 0)
            ++ended;
        else
            PLOG(LOG_WARNING, "end %s (%lld) failed", qPrintable(ProgramPath()), pid);
    }
    return ended;
}

void CloudEngine::ForgetProcesses()
{
    QMutexLocker lock(&g_processesMutex);
    g_processes.clear();
}
