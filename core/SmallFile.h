#pragma once

#include <QByteArray>
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
}
