#include "core/XmlFile.h"

#include "core/SmallFile.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <tinyxml.h>

#include <vector>

namespace {

// The name at the start of a tag, up to a blank, '/' or '>'.
QByteArrayView TagName(const char *from, const char *end)
{
    const char *p = from;
    while (p < end && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != '/' && *p != '>')
        ++p;
    return QByteArrayView(from, p - from);
}

// Walks the markup the way the parser will and measures nesting depth and
// attributes per element; comments, CDATA, declarations and quoted values
// are skipped. Returns a reason, or an empty string.
QString CheckMarkup(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    const char *const end = p + bytes.size();
    std::vector<QByteArrayView> open; // names of the elements open here
    auto skipPast = [&](const char *marker) {
        const QByteArrayView rest(p, end - p);
        const qsizetype at = rest.indexOf(marker);
        p = at < 0 ? end : p + at + qstrlen(marker);
    };
    while (p < end) {
        if (*p != '<') {
            ++p;
            continue;
        }
        const QByteArrayView rest(p, end - p);
        if (rest.startsWith("<!--")) {
            skipPast("-->");
        } else if (rest.startsWith("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.startsWith("<?") || rest.startsWith("<!")) {
            skipPast(">");
        } else if (rest.startsWith("</")) {
            // Only a closing tag that matches the innermost open element
            // ends it: stray closing tags never buy depth for later ones.
            const char *name = p + 2;
            skipPast(">");
            const QByteArrayView closing = TagName(name, p);
            if (!open.empty() && open.back() == closing)
                open.pop_back();
        } else {
            // A start tag: count the attributes up to its end.
            int attributes = 0;
            char quote = 0;
            const char *q = p + 1;
            for (; q < end; ++q) {
                if (quote) {
                    if (*q == quote)
                        quote = 0;
                } else if (*q == '"' || *q == '\'') {
                    quote = *q;
                } else if (*q == '=') {
                    ++attributes;
                } else if (*q == '>') {
                    break;
                }
            }
            if (attributes > XmlFile::kMaxAttributes)
                return QStringLiteral("an element with more than %1 attributes").arg(XmlFile::kMaxAttributes);
            const bool selfClosing = q < end && q > p && q[-1] == '/';
            if (!selfClosing) {
                open.push_back(TagName(p + 1, q));
                if (int(open.size()) > XmlFile::kMaxDepth)
                    return QStringLiteral("nested more than %1 levels deep").arg(XmlFile::kMaxDepth);
            }
            p = q < end ? q + 1 : end;
        }
    }
    return QString();
}

} // namespace

QByteArray XmlFile::Print(const TiXmlDocument &doc)
{
    TiXmlPrinter printer;
    printer.SetIndent("    ");
    printer.SetLineBreak("\n");
    doc.Accept(&printer);
    return QByteArray(printer.CStr(), int(printer.Size()));
}

bool XmlFile::Write(const TiXmlDocument &doc, const QString &path, QString *error)
{
    return SmallFile::Replace(path, Print(doc), error);
}

QString XmlFile::CheckBytes(const QByteArray &bytes)
{
    if (bytes.trimmed().isEmpty())
        return QStringLiteral("the file is empty");
    if (bytes.contains('\0'))
        return QStringLiteral("the file holds a NUL byte");
    QStringDecoder decoder(QStringDecoder::System);
    [[maybe_unused]] const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QStringLiteral("the file is not valid text in the local encoding");
    return CheckMarkup(bytes);
}

bool XmlFile::Parse(const QByteArray &bytes, TiXmlDocument *doc, QString *why)
{
    auto unusable = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    const QString broken = CheckBytes(bytes);
    if (!broken.isEmpty())
        return unusable(broken);
    // Rows keep their inner blanks exactly as saved.
    TiXmlBase::SetCondenseWhiteSpace(false);
    doc->Parse(bytes.constData(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc->Error())
        return unusable(QStringLiteral("parse error: %1 (row %2, column %3)")
                            .arg(QString::fromLocal8Bit(doc->ErrorDesc()))
                            .arg(doc->ErrorRow())
                            .arg(doc->ErrorCol()));
    if (!doc->FirstChildElement())
        return unusable(QStringLiteral("no root element"));
    return true;
}

XmlFile::ReadResult XmlFile::Read(const QString &path, TiXmlDocument *doc, QString *why)
{
    auto unusable = [why](const QString &reason) {
        if (why)
            *why = reason;
        return ReadResult::Unusable;
    };
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return ReadResult::Missing;
    if (!info.isFile())
        return unusable(QStringLiteral("not a regular file"));
    if (info.size() > kMaxBytes)
        return unusable(QStringLiteral("larger than %1 bytes").arg(kMaxBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return unusable(QStringLiteral("cannot be opened: %1").arg(file.errorString()));
    const QByteArray bytes = file.read(kMaxBytes + 1);
    if (bytes.size() > kMaxBytes)
        return unusable(QStringLiteral("larger than %1 bytes").arg(kMaxBytes));
    return Parse(bytes, doc, why) ? ReadResult::Ok : ReadResult::Unusable;
}

QString XmlFile::ElementText(const TiXmlElement *element)
{
    const TiXmlNode *child = element->FirstChild();
    const TiXmlText *text = child ? child->ToText() : nullptr;
    return text ? QString::fromLocal8Bit(text->Value()) : QString();
}
