#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Who may use the remote interface: the machine token kept for scripts,
// and the phones paired with a one-time code, each with a device token of
// its own. Tokens live in owner-only files of the settings folder; of a
// device token only its SHA-256 is kept, so the file never holds one.
namespace RemoteAccess {

constexpr int kPairingMinutes = 10;
constexpr int kMaxDevices = 50;
constexpr int kMaxDeviceNameLength = 40;

QString TokenFile(const QString &folder);
QString DevicesFile(const QString &folder);
// The stored machine token, made (32 random bytes, hex) and stored when
// missing or unreadable, or when renew is set.
QByteArray MachineToken(const QString &folder, bool renew = false);
// Equal in time whatever the bytes: a token is never guessed piecewise.
bool SameToken(const QByteArray &a, const QByteArray &b);

// A new pairing code (eight letters and digits), valid for kPairingMinutes
// on the replaceable clock and for one pairing; it replaces any earlier one.
QString NewPairingCode();
// Consumes the code: true only for the current, unused, unexpired one.
bool TakePairingCode(const QString &code);
// Whether a code made here is still unused and unexpired (a view showing
// it hides it once this turns false).
bool PairingCodeLive();

struct Device
{
    QString id;
    QString name;
    QDateTime paired;
    QByteArray tokenHash; // hex SHA-256 of the device token
};
QList<Device> Devices(const QString &folder);
// Stores a new device and returns its token (empty when it cannot be stored).
QByteArray AddDevice(const QString &folder, const QString &name);
bool Revoke(const QString &folder, const QString &id);
// The device the token belongs to, or an empty id.
QString DeviceOf(const QString &folder, const QByteArray &token);

}
