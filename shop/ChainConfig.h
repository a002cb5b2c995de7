#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class TiXmlElement;

// How a shop joins its chain's broker, as settings.xml holds it:
//   chainBroker="mqtts://host:8883" (or mqtt://host:1883), chainShop="S001",
//   chainGroups="east,beijing", chainUser="…", chainPrefix="parlivo",
//   chainCaFile="/path/ca.crt"
// and the password in the owner-only file "chain-password" beside it.
// Without a broker and a shop id the chain is off (the default).
struct ChainConfig
{
    static constexpr char kDefaultPrefix[] = "parlivo";
    static constexpr char kPasswordFile[] = "chain-password";

    QString broker;
    QString shop;
    // From the broadest to the narrowest: of two group lists, the later wins.
    QStringList groups;
    QString user;
    QString prefix = QString::fromLatin1(kDefaultPrefix);
    QString caFile;
    QByteArray password; // never in settings.xml

    bool Enabled() const { return !broker.isEmpty() && !shop.isEmpty(); }

    // The broker address taken apart; false (with why) when it is not
    // mqtt://host[:port] or mqtts://host[:port].
    struct Address
    {
        QString host;
        int port = 0;
        bool tls = false;
    };
    bool ParseBroker(Address *address, QString *why = nullptr) const;
    // Shop id, groups and prefix must be usable as topic levels: no "/",
    // "+", "#" or NUL, not blank. False, with why, otherwise.
    bool Check(QString *why) const;

    // Reads the chain attributes of the settings root (those absent keep
    // their defaults) and writes those that are set, so a settings file
    // without a chain is written exactly as before.
    void ReadXml(const TiXmlElement &root);
    void WriteXml(TiXmlElement *root) const;

    // The password file of a settings folder; read into password (false
    // when there is none). A file others may read is made owner-only.
    static QString PasswordPath(const QString &folder);
    bool ReadPassword(const QString &folder);
    static bool WritePassword(const QString &folder, const QByteArray &password);

    // "<prefix>/<rest>".
    QByteArray Topic(const QString &rest) const { return (prefix + QLatin1Char('/') + rest).toUtf8(); }
    // "<prefix>/shop/<shop>/<leaf>".
    QByteArray ShopTopic(const char *leaf) const
    {
        return Topic(QStringLiteral("shop/%1/%2").arg(shop, QString::fromLatin1(leaf)));
    }
};
