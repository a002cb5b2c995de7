#pragma once

#include <QString>

class TiXmlDocument;
class TiXmlElement;

// The stored XML files: printed with a four-blank indent and "\n" line
// ends, no declaration, replaced atomically (written whole beside the old
// file, synced, renamed over it, the folder synced), so a crash, a power
// cut or a full disk never leaves a truncated file behind. Reading checks
// the bytes against fixed limits before the parser sees them, so no file
// can crash or freeze the program.
namespace XmlFile {
// Far above any real list (a 10,000-row list is some 430 KB, two levels deep).
constexpr qint64 kMaxBytes = 4 * 1024 * 1024;
constexpr int kMaxDepth = 32;
constexpr int kMaxAttributes = 256;

enum class ReadResult {
    Ok,       // parsed; doc holds it
    Missing,  // no file: defaults are fine
    Unusable, // present but cannot be used; *why says how
};

QByteArray Print(const TiXmlDocument &doc);
// False when the file could not be replaced; *error then says why and
// the old file is untouched.
bool Write(const TiXmlDocument &doc, const QString &path, QString *error = nullptr);
// Reads and parses a stored file. Unusable: cannot be opened, not a
// regular file, empty, not valid text, beyond the limits, a parse error or
// no root element. Text is kept exactly (white space is not condensed).
ReadResult Read(const QString &path, TiXmlDocument *doc, QString *why = nullptr);
// Checks and parses bytes as Read does; false with *why when unusable.
bool Parse(const QByteArray &bytes, TiXmlDocument *doc, QString *why = nullptr);
// Checks bytes against the limits and the text encoding; the reason when
// they break one, else an empty string.
QString CheckBytes(const QByteArray &bytes);
// The text of an element's first child when that is a text node, else "".
QString ElementText(const TiXmlElement *element);
}
