#include "shop/ChainConfig.h"

#include "core/Log.h"
#include "core/SmallFile.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <tinyxml.h>

namespace {

constexpr qint64 kMaxPasswordBytes = 4096;

bool UsableLevel(const QString &level)
{
    return !level.trimmed().isEmpty() && !level.contains(QLatin1Char('/')) && !level.contains(QLatin1Char('+'))
           && !level.contains(QLatin1Char('#')) && !level.contains(QChar(0));
}

struct Attribute
{
    const char *name;
    QString ChainConfig::*field;
};

const Attribute kTextAttributes[] = {
    {"chainBroker", &ChainConfig::broker},
    {"chainShop", &ChainConfig::shop},
    {"chainUser", &ChainConfig::user},
    {"chainCaFile", &ChainConfig::caFile},
};

} // namespace

bool ChainConfig::ParseBroker(Address *address, QString *why) const
{
    const QUrl url(broker.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))
        || !url.path().isEmpty() && url.path() != QLatin1String("/")) {
        if (why)
            *why = QStringLiteral("broker address \"%1\" is not mqtt://host:port or mqtts://host:port").arg(broker);
        return false;
    }
    address->tls = scheme == QLatin1String("mqtts");
    address->host = url.host();
    address->port = url.port(address->tls ? 8883 : 1883);
    return true;
}

bool ChainConfig::Check(QString *why) const
{
    Address address;
    if (!ParseBroker(&address, why))
        return false;
    if (!UsableLevel(shop)) {
        *why = QStringLiteral("shop id \"%1\" cannot be a topic level").arg(shop);
        return false;
    }
    for (const QString &group : groups)
        if (!UsableLevel(group)) {
            *why = QStringLiteral("group \"%1\" cannot be a topic level").arg(group);
            return false;
        }
    for (const QString &level : prefix.split(QLatin1Char('/')))
        if (!UsableLevel(level)) {
            *why = QStringLiteral("prefix \"%1\" cannot start topics").arg(prefix);
            return false;
        }
    return true;
}

void ChainConfig::ReadXml(const TiXmlElement &root)
{
    for (const Attribute &attribute : kTextAttributes)
        if (const char *value = root.Attribute(attribute.name))
            this->*attribute.field = QString::fromUtf8(value).trimmed();
    if (const char *value = root.Attribute("chainGroups")) {
        groups.clear();
        for (const QString &group : QString::fromUtf8(value).split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (!group.trimmed().isEmpty())
                groups << group.trimmed();
    }
    if (const char *value = root.Attribute("chainPrefix"); value && *value)
        prefix = QString::fromUtf8(value).trimmed();
}

void ChainConfig::WriteXml(TiXmlElement *root) const
{
    for (const Attribute &attribute : kTextAttributes)
        if (!(this->*attribute.field).isEmpty())
            root->SetAttribute(attribute.name, (this->*attribute.field).toUtf8().constData());
    if (!groups.isEmpty())
        root->SetAttribute("chainGroups", groups.join(QLatin1Char(',')).toUtf8().constData());
    if (prefix != QLatin1String(kDefaultPrefix))
        root->SetAttribute("chainPrefix", prefix.toUtf8().constData());
}

QString ChainConfig::PasswordPath(const QString &folder)
{
    return QDir(folder).filePath(QString::fromLatin1(kPasswordFile));
}

bool ChainConfig::ReadPassword(const QString &folder)
{
    const QString path = PasswordPath(folder);
    QByteArray bytes;
    const SmallFile::Result result = SmallFile::Read(path, kMaxPasswordBytes, &bytes);
    if (result != SmallFile::Result::Ok) {
        if (result != SmallFile::Result::Missing)
            PLOG(LOG_ERROR, "chain password file %s: %s", qPrintable(path), SmallFile::Describe(result));
        password.clear();
        return false;
    }
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    if (QFile::permissions(path) & others) {
        PLOG(LOG_WARNING, "chain password file %s was readable by others: made owner-only", qPrintable(path));
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }
    password = bytes.trimmed();
    return true;
}

bool ChainConfig::WritePassword(const QString &folder, const QByteArray &password)
{
    QDir().mkpath(folder);
    QString error;
    const bool ok = SmallFile::Replace(PasswordPath(folder), password, &error, QFile::ReadOwner | QFile::WriteOwner);
    if (!ok)
        PLOG(LOG_ERROR, "chain password not stored: %s", qPrintable(error));
    return ok;
}
