#pragma once

#include <QByteArray>
#include <QFileDevice>
#include <QString>

// Reads a small file that the operator or another program may have put in
// place: only a regular file (a FIFO would block the reader, a link to a
// device would never end), at most maxBytes. Opened without blocking and
// checked on the opened descriptor, so a file swapped in between cannot
// slip through.
namespace SmallFile {
enum class Result { Ok, Missing, NotRegular, TooLarge, Unreadable };
Result Read(const QString &path, qint64 maxBytes, QByteArray *bytes);
const char *Describe(Result result);

// Replaces a file atomically: written whole beside the old one (with these
// permissions before anything is in it, when given), renamed over it, the
// folder synced; a crash, a power cut or a full disk never leaves a
// truncated file. False, with *error saying why, when the old file stays.
bool Replace(const QString &path, const QByteArray &bytes, QString *error = nullptr,
             QFileDevice::Permissions permissions = {});
}
