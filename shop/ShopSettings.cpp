#include "shop/ShopSettings.h"

#include "core/Log.h"
#include "core/StoredFile.h"
#include "core/XmlFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <tinyxml.h>

namespace {

QString g_filePathOverride;

int ClampLogged(int value, int low, int high, const char *name)
{
    const int clamped = qBound(low, value, high);
    if (clamped != value)
        PLOG(LOG_WARNING, "%s %d out of range, taken as %d", name, value, clamped);
    return clamped;
}

bool Text(const TiXmlElement *e, const char *name, QString *out)
{
    const char *value = e->Attribute(name);
    if (value)
        *out = QString::fromLocal8Bit(value);
    return value != nullptr;
}

bool Number(const TiXmlElement *e, const char *name, int *out)
{
    const char *value = e->Attribute(name);
    if (value)
        *out = QByteArray(value).toInt();
    return value != nullptr;
}

void ReadRoot(const TiXmlElement *root, SettingsValues *s)
{
    QString value;
    int n = 0;
    if (Text(root, "yusheng", &value) && !value.isEmpty())
        s->yusheng = value;
    if (Text(root, "chime", &value))
        s->chime = value;
    if (Number(root, "remote", &n))
        s->remoteEnabled = n == 1;
    if (Number(root, "remotePort", &n))
        s->remotePort = ClampLogged(n, 1024, 65535, "remote port");
    if (Number(root, "remoteLan", &n))
        s->remoteShopNetwork = n == 1;
    if (Text(root, "speed", &value) && !value.isEmpty())
        s->speed = ClampLogged(value.toInt(), 0, 10, "speed");
    if (Text(root, "volume", &value) && !value.isEmpty())
        s->volume = ClampLogged(value.toInt(), 0, 10, "volume");
}

void ReadSection(const TiXmlElement *e, SettingsValues *s)
{
    QString value;
    int n = 0;
    if (Text(e, "fontSize", &value))
        s->fontSize = value.toUInt();
    Text(e, "titleBGColor", &s->titleBGColor);
    Text(e, "titleColor", &s->titleColor);
    Text(e, "priceBgColor", &s->priceBgColor);
    Text(e, "priceColor", &s->priceColor);
    Text(e, "pageTime", &s->pageTime);
    if (!Number(e, "musicVol", &n))
        return;
    s->musicVol = ClampLogged(n, 0, 100, "music volume");
    if (Number(e, "musicPlayType", &n))
        s->musicPlayType = n;
    if (Number(e, "musicStartType", &n))
        s->musicStartType = n;
    if (Number(e, "smallWhenPlaying", &n))
        s->smallWhenPlaying = n;
    if (Number(e, "loudness", &n))
        s->musicLoudness = n == 1 ? 1 : 0;
    s->musicList.clear();
    for (const TiXmlElement *music = e->FirstChildElement(); music; music = music->NextSiblingElement())
        if (const char *name = music->Attribute("name"))
            s->musicList.append(QString::fromLocal8Bit(name));
}

void Write(const SettingsValues &s, const ChainConfig &chain, TiXmlDocument *doc)
{
    auto *root = new TiXmlElement("settings"); // owned by the document once linked
    doc->LinkEndChild(root);
    root->SetAttribute("yusheng", s.yusheng.Get().toLocal8Bit().constData());
    root->SetAttribute("speed", s.speed);
    root->SetAttribute("volume", s.volume);
    if (!s.chime.Get().isEmpty()) // absent: no chime, as in files without the option
        root->SetAttribute("chime", s.chime.Get().toLocal8Bit().constData());
    if (s.remoteEnabled) { // absent: the remote control is off
        root->SetAttribute("remote", 1);
        root->SetAttribute("remotePort", s.remotePort);
        root->SetAttribute("remoteLan", s.remoteShopNetwork ? 1 : 0);
    }
    chain.WriteXml(root); // only what is set: a shop without a chain writes none
    auto *screen = new TiXmlElement("priceScreen");
    root->LinkEndChild(screen);
    screen->SetAttribute("fontSize", QByteArray::number(s.fontSize).constData());
    screen->SetAttribute("titleBGColor", s.titleBGColor.toLocal8Bit().constData());
    screen->SetAttribute("titleColor", s.titleColor.toLocal8Bit().constData());
    screen->SetAttribute("priceBgColor", s.priceBgColor.toLocal8Bit().constData());
    screen->SetAttribute("priceColor", s.priceColor.toLocal8Bit().constData());
    screen->SetAttribute("pageTime", s.pageTime.toLocal8Bit().constData());
    auto *music = new TiXmlElement("musicConfig");
    root->LinkEndChild(music);
    music->SetAttribute("musicVol", s.musicVol);
    music->SetAttribute("musicPlayType", s.musicPlayType);
    music->SetAttribute("musicStartType", s.musicStartType);
    music->SetAttribute("smallWhenPlaying", s.smallWhenPlaying);
    if (s.musicLoudness) // absent: off, as in files without the option
        music->SetAttribute("loudness", 1);
    for (const QString &path : std::as_const(s.musicList)) {
        auto *entry = new TiXmlElement("music");
        entry->SetAttribute("name", path.toLocal8Bit().constData());
        music->LinkEndChild(entry);
    }
}

} // namespace

ShopSettings::ShopSettings(QObject *parent)
    : QObject(parent), m_file(std::make_unique<StoredFile>(FilePath(), QStringLiteral("设置"), false))
{
}

ShopSettings::~ShopSettings() = default;

QString ShopSettings::FilePath()
{
    if (!g_filePathOverride.isEmpty())
        return g_filePathOverride;
    const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/settings.xml");
    const QFileInfo file(beside), dir(QCoreApplication::applicationDirPath());
    if (dir.isWritable() && (!file.exists() || file.isWritable()))
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + QStringLiteral("/settings.xml");
}

QString ShopSettings::Folder()
{
    return QFileInfo(FilePath()).absolutePath();
}

void ShopSettings::UseFilePath(const QString &path)
{
    g_filePathOverride = path;
}

void ShopSettings::Load()
{
    PLOG(LOG_INFO, "settings file %s", qPrintable(m_file->Path()));
    TiXmlDocument doc;
    switch (m_file->Load(&doc)) {
    case XmlFile::ReadResult::Missing:
    case XmlFile::ReadResult::Unusable:
        return; // the defaults hold (an unusable file was set aside and staff told)
    case XmlFile::ReadResult::Ok:
        break;
    }
    const TiXmlElement *root = doc.FirstChildElement();
    ReadRoot(root, &g_settings);
    m_chain.ReadXml(*root);
    if (m_chain.Enabled())
        m_chain.ReadPassword(Folder());
    for (const TiXmlElement *e = root->FirstChildElement(); e; e = e->NextSiblingElement())
        ReadSection(e, &g_settings);
}

bool ShopSettings::Update(const std::function<void(SettingsValues &)> &change)
{
    change(g_settings);
    const bool stored = Store();
    emit Changed();
    return stored;
}

bool ShopSettings::UpdateChain(const ChainConfig &chain, const QByteArray *newPassword)
{
    m_chain = chain;
    bool stored = true;
    if (newPassword) {
        stored = ChainConfig::WritePassword(Folder(), *newPassword);
        m_chain.password = *newPassword;
    }
    stored = Store() && stored;
    emit Changed();
    return stored;
}

bool ShopSettings::Store()
{
    TiXmlDocument doc;
    Write(g_settings, m_chain, &doc);
    const bool stored = m_file->Save(doc) == StoredFile::SaveResult::Saved;
    if (!stored)
        PLOG(LOG_ERROR, "write config file(%s) failed", qPrintable(m_file->Path()));
    return stored;
}
