#pragma once

#include <QString>

class TiXmlDocument;
class TiXmlElement;

// The stored XML files: printed with a four-blank indent and "\n" line
// ends, no declaration, replaced atomically (written whole beside the old
// file, then renamed over it), so a crash or a full disk never leaves a
// truncated file behind.
namespace XmlFile {
enum class ReadResult { Ok, Missing, ParseError };

QByteArray Print(const TiXmlDocument &doc);
bool Write(const TiXmlDocument &doc, const QString &path);
// Missing when the file cannot be opened; ParseError for an unparsable or
// empty file.
ReadResult Read(const QString &path, TiXmlDocument *doc);
// The text of an element's first child when that is a text node, else "".
QString ElementText(const TiXmlElement *element);
}
