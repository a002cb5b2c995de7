#include "core/RemoteAccess.h"

#include "core/Clock.h"
#include "core/Log.h"
#include "core/SmallFile.h"
#include "core/StoredFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>

#include <atomic>

namespace {

QMutex g_mutex;
QString g_code;
qint64 g_codeMadeAt = 0; // on the monotonic clock, in ms

// The current code's age is within its minutes (g_mutex held).
bool Fresh()
{
    const qint64 age = Clock::Current().TickMs() - g_codeMadeAt;
    return age >= 0 && age < qint64(RemoteAccess::kPairingMinutes) * 60000;
}

QByteArray RandomHex(int bytes)
{
    QByteArray raw(bytes, '\0');
    QRandomGenerator::system()->generate(raw.begin(), raw.end());
    return raw.toHex();
}

QByteArray HashOf(const QByteArray &token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256).toHex();
}

// Written whole and owner-only before anything is in it.
bool WriteOwnerOnly(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return SmallFile::Replace(path, bytes, nullptr, QFile::ReadOwner | QFile::WriteOwner);
}

bool StoreDevices(const QString &folder, const QList<RemoteAccess::Device> &devices)
{
    QJsonArray array;
    for (const RemoteAccess::Device &d : devices)
        array.append(QJsonObject{{QStringLiteral("id"), d.id},
                                 {QStringLiteral("name"), d.name},
                                 {QStringLiteral("paired"), d.paired.toString(Qt::ISODate)},
                                 {QStringLiteral("sha256"), QString::fromLatin1(d.tokenHash)}});
    const bool ok = WriteOwnerOnly(RemoteAccess::DevicesFile(folder), QJsonDocument(array).toJson());
    if (!ok)
        PLOG(LOG_ERROR, "cannot store the paired phones in %s", qPrintable(RemoteAccess::DevicesFile(folder)));
    return ok;
}

// A token others on this machine can read lets them drive the shop's
// speech: such a file is made owner-only, and that is logged once.
void MakeOwnerOnly(const QString &path)
{
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                      | QFile::WriteOther | QFile::ExeOther;
    const QFile::Permissions now = QFile::permissions(path);
    if (!(now & others))
        return;
    static std::atomic<bool> told{false};
    const bool fixed = QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    if (told.exchange(true))
        return;
    if (fixed)
        PLOG(LOG_WARNING, "%s was readable by other users: made owner-only", qPrintable(path));
    else
        PLOG(LOG_WARNING, "%s is readable by other users and cannot be made owner-only", qPrintable(path));
}

} // namespace

QString RemoteAccess::TokenFile(const QString &folder)
{
    return folder + QStringLiteral("/remote-token");
}

QString RemoteAccess::DevicesFile(const QString &folder)
{
    return folder + QStringLiteral("/remote-devices.json");
}

QByteArray RemoteAccess::MachineToken(const QString &folder, bool renew)
{
    const QString path = TokenFile(folder);
    QByteArray stored;
    const SmallFile::Result read = SmallFile::Read(path, 1024, &stored);
    if (!renew && read == SmallFile::Result::Ok && stored.trimmed().size() == 64) {
        MakeOwnerOnly(path);
        return stored.trimmed();
    }
    if (read != SmallFile::Result::Ok && read != SmallFile::Result::Missing) {
        // A FIFO, a device or a huge file in its place: set aside, a new token made.
        PLOG(LOG_WARNING, "%s is %s: set aside, a new token made", qPrintable(path), SmallFile::Describe(read));
        StoredFile::KeepAside(path);
    }
    const QByteArray token = RandomHex(32);
    if (!WriteOwnerOnly(path, token + '\n'))
        PLOG(LOG_ERROR, "cannot store the remote control token in %s", qPrintable(path));
    return token;
}

bool RemoteAccess::SameToken(const QByteArray &a, const QByteArray &b)
{
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    for (qsizetype i = 0; i < qMax(a.size(), b.size()); ++i)
        diff |= static_cast<unsigned char>((i < a.size() ? a.at(i) : 0) ^ (i < b.size() ? b.at(i) : 0));
    return diff == 0 && !a.isEmpty();
}

QString RemoteAccess::NewPairingCode()
{
    // No 0/O or 1/I: read off a screen and typed, if need be.
    static const char kAlphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString code;
    for (int i = 0; i < 8; ++i)
        code += QLatin1Char(kAlphabet[QRandomGenerator::system()->bounded(int(sizeof kAlphabet) - 1)]);
    QMutexLocker lock(&g_mutex);
    g_code = code;
    g_codeMadeAt = Clock::Current().TickMs();
    return code;
}

bool RemoteAccess::TakePairingCode(const QString &code)
{
    QMutexLocker lock(&g_mutex);
    const bool fresh = Fresh();
    const bool match = !g_code.isEmpty() && SameToken(code.toUpper().toLatin1(), g_code.toLatin1());
    if (match)
        g_code.clear(); // single use, whatever its age
    return match && fresh;
}

bool RemoteAccess::PairingCodeLive()
{
    QMutexLocker lock(&g_mutex);
    return !g_code.isEmpty() && Fresh();
}

QList<RemoteAccess::Device> RemoteAccess::Devices(const QString &folder)
{
    QByteArray bytes;
    const SmallFile::Result read = SmallFile::Read(DevicesFile(folder), 256 * 1024, &bytes);
    if (read != SmallFile::Result::Ok) {
        if (read != SmallFile::Result::Missing)
            PLOG(LOG_WARNING, "%s is %s: no phone is paired", qPrintable(DevicesFile(folder)), SmallFile::Describe(read));
        return {};
    }
    QList<Device> devices;
    const QJsonArray array = QJsonDocument::fromJson(bytes).array();
    for (const QJsonValue &value : array) {
        const QJsonObject o = value.toObject();
        Device d{o.value(QStringLiteral("id")).toString(), o.value(QStringLiteral("name")).toString(),
                 QDateTime::fromString(o.value(QStringLiteral("paired")).toString(), Qt::ISODate),
                 o.value(QStringLiteral("sha256")).toString().toLatin1()};
        if (!d.id.isEmpty() && d.tokenHash.size() == 64)
            devices.append(d);
    }
    return devices;
}

QByteArray RemoteAccess::AddDevice(const QString &folder, const QString &name)
{
    QList<Device> devices = Devices(folder);
    while (devices.size() >= kMaxDevices)
        devices.removeFirst(); // the phone paired longest ago makes room
    const QByteArray token = RandomHex(32);
    const QString shown = name.trimmed().isEmpty() ? QStringLiteral("手机") : name.trimmed().left(kMaxDeviceNameLength);
    devices.append(Device{QString::fromLatin1(RandomHex(8)), shown, QDateTime::currentDateTime(), HashOf(token)});
    return StoreDevices(folder, devices) ? token : QByteArray();
}

bool RemoteAccess::Revoke(const QString &folder, const QString &id)
{
    QList<Device> devices = Devices(folder);
    const qsizetype before = devices.size();
    devices.removeIf([&id](const Device &d) { return d.id == id; });
    return devices.size() < before && StoreDevices(folder, devices);
}

QString RemoteAccess::DeviceOf(const QString &folder, const QByteArray &token)
{
    if (token.isEmpty())
        return {};
    const QByteArray hash = HashOf(token);
    for (const Device &d : Devices(folder))
        if (SameToken(hash, d.tokenHash))
            return d.id;
    return {};
}
