#include "core/SmallFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SmallFile::Result SmallFile::Read(const QString &path, qint64 maxBytes, QByteArray *bytes)
{
    bytes->clear();
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno == ENOENT ? Result::Missing : Result::Unreadable;
    struct stat st {};
    Result result = Result::Ok;
    if (::fstat(fd, &st) != 0)
        result = Result::Unreadable;
    else if (!S_ISREG(st.st_mode))
        result = Result::NotRegular;
    else if (st.st_size > maxBytes)
        result = Result::TooLarge;
    if (result == Result::Ok) {
        bytes->resize(qsizetype(st.st_size));
        qsizetype done = 0;
        while (done < bytes->size()) {
            const ssize_t n = ::read(fd, bytes->data() + done, size_t(bytes->size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        bytes->truncate(done); // a file that shrank while read
    }
    ::close(fd);
    return result;
}

const char *SmallFile::Describe(Result result)
{
    switch (result) {
    case Result::Ok: return "read";
    case Result::Missing: return "missing";
    case Result::NotRegular: return "not a regular file";
    case Result::TooLarge: return "too large";
    case Result::Unreadable: return "unreadable";
    }
    return "unreadable";
}

namespace {

// The rename is only durable once the folder itself reached the disk.
void SyncFolderOf(const QString &path)
{
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool SmallFile::Replace(const QString &path, const QByteArray &bytes, QString *error,
                        QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    // Unbuffered, so that a short write (a full disk) shows in write()'s
    // count: a buffered QSaveFile flushes a short write at commit() and
    // still reports success, replacing the old file with a truncated one.
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (written && permissions)
        file.setPermissions(permissions);
    if (written) {
        const qint64 count = file.write(bytes);
        if (count != bytes.size() && error)
            *error = QStringLiteral("only %1 of %2 bytes written (disk full?)").arg(qMax<qint64>(count, 0)).arg(bytes.size());
        written = count == bytes.size() && file.commit();
    }
    if (!written) {
        if (error && error->isEmpty())
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (permissions)
        QFile::setPermissions(path, permissions); // an older file's kept ones included
    SyncFolderOf(path);
    return true;
}
