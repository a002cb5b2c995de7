#include "core/Log.h"

#include <QDateTime>
#include <QLocale>
#include <QMutex>
#include <QtDebug>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kLevelMask = 0x3E;

QMutex g_pathMutex;
QByteArray g_path;

QByteArray ExecutablePath()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? QByteArray(buf, int(n)) : QByteArray("parlivo");
}

const char *LevelTag(int flags)
{
    if (flags & LOG_DEBUG)
        return "debug";
    if (flags & LOG_INFO)
        return "info";
    if (flags & LOG_WARNING)
        return "warning";
    if (flags & LOG_ERROR)
        return "error";
    return "emerg";
}

int OpenForAppend(const QByteArray &path)
{
    return open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

// Moves an over-long log to the "2" generation; if that fails the log
// restarts empty in place. Returns the descriptor to write to.
int RotateIfNeeded(int fd, const QByteArray &path)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size <= LogFile::kSizeLimit)
        return fd;
    close(fd);
    const QByteArray previous = path + "2";
    unlink(previous.constData());
    if (rename(path.constData(), previous.constData()) != 0) {
        qDebug("rename failed from %s to %s", path.constData(), previous.constData());
        if (truncate(path.constData(), 0) != 0)
            qDebug("truncate failed for %s", path.constData());
    }
    return OpenForAppend(path);
}

// Control characters in logged text (a line break in a requested path, an
// escape sequence) would forge lines or confuse a terminal: they are
// written as \xNN, cut at maxText like the rest.
void EscapeControls(char *line, int *used, int maxText)
{
    QByteArray escaped;
    bool any = false;
    for (int i = 0; i < *used; ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7F) {
            escaped += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0');
            any = true;
        } else {
            escaped += char(c);
        }
    }
    if (!any)
        return;
    *used = int(qMin<qsizetype>(escaped.size(), maxText));
    memcpy(line, escaped.constData(), size_t(*used));
}

} // namespace

QByteArray LogFile::Path()
{
    QMutexLocker lock(&g_pathMutex);
    if (g_path.isEmpty()) {
        g_path = ExecutablePath() + ".log";
        // An installed program's folder is not the user's to write: the log
        // then goes to the user's data folder.
        const QByteArray dir = g_path.left(g_path.lastIndexOf('/') + 1);
        if (access(dir.isEmpty() ? "." : dir.constData(), W_OK) != 0) {
            const QByteArray home = qgetenv("HOME");
            const QByteArray data = qEnvironmentVariableIsSet("XDG_DATA_HOME") ? qgetenv("XDG_DATA_HOME")
                                                                                : home + "/.local/share";
            mkdir(data.constData(), 0700);
            mkdir((data + "/Parlivo").constData(), 0700);
            g_path = data + "/Parlivo/parlivo.log";
        }
    }
    return g_path;
}

void LogFile::SetPath(const QByteArray &path)
{
    QMutexLocker lock(&g_pathMutex);
    g_path = path;
}

QByteArray LogFile::SourceName(const char *file)
{
    QByteArray name(file);
    name = name.mid(name.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    return dot > 0 ? name.left(dot) : name;
}

QByteArray LogFile::FunctionName(const char *prettyFunction)
{
    QByteArray name(prettyFunction);
    const int paren = name.indexOf('(');
    if (paren > 0)
        name.truncate(paren);
    return name.mid(name.lastIndexOf(' ') + 1);
}

void WriteLog(int flags, const char *format, ...)
{
    if (!(flags & kLevelMask))
        return;

    char line[LogFile::kLineBuffer] = {};
    const QByteArray stamp =
        QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat).toLocal8Bit();
    // The text is cut so that CR LF and the terminator still fit.
    const int maxText = LogFile::kLineBuffer - 3;
    int used = snprintf(line, size_t(maxText + 1), "%s [%-8s] - ", stamp.constData(), LevelTag(flags));
    used = qBound(0, used, maxText);

    va_list args;
    va_start(args, format);
    const int written = vsnprintf(line + used, size_t(maxText + 1 - used), format, args);
    va_end(args);
    if (written > 0)
        used = qMin(used + written, maxText);
    while (used > 0 && (line[used - 1] == '\n' || line[used - 1] == '\r'))
        --used; // a format's own line end
    EscapeControls(line, &used, maxText);
    line[used++] = '\r';
    line[used++] = '\n';

    const QByteArray path = LogFile::Path();
    int fd = OpenForAppend(path);
    if (fd < 0) {
        qDebug("%s", line);
        return;
    }
    fd = RotateIfNeeded(fd, path);
    if (fd < 0) {
        qDebug("%s", line);
        return;
    }
    if (write(fd, line, size_t(used)) != used)
        qDebug("%s", line);
    close(fd);
}
