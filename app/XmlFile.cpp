#include "XmlFile.h"

#include <QFile>
#include <QSaveFile>

#include <tinyxml.h>

QByteArray XmlFile::Print(const TiXmlDocument &doc)
{
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return QByteArray(printer.CStr(), int(printer.Size()));
}

bool XmlFile::Write(const TiXmlDocument &doc, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = Print(doc);
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

XmlFile::ReadResult XmlFile::Read(const QString &path, TiXmlDocument *doc)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ReadResult::Missing;
    const QByteArray bytes = file.readAll();
    doc->Parse(bytes.constData(), nullptr, TIXML_DEFAULT_ENCODING);
    return doc->Error() || bytes.trimmed().isEmpty() ? ReadResult::ParseError : ReadResult::Ok;
}

QString XmlFile::ElementText(const TiXmlElement *element)
{
    const TiXmlNode *child = element->FirstChild();
    const TiXmlText *text = child ? child->ToText() : nullptr;
    return text ? QString::fromLocal8Bit(text->Value()) : QString();
}
