#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QPushButton;

// The pairing code in a window of its own, so the main window keeps its
// size: the QR code of the phone page's address on the shop network, the
// address and the code to type, and the minutes left. It closes itself
// (its code gone with it) when the time is up, or when the owner calls
// CodeUsed(). While the interface listens on this PC only it says phones
// need "店内网络" and offers to switch.
class PairingDialog : public QDialog
{
    Q_OBJECT

public:
    PairingDialog(const QString &code, QWidget *parent = nullptr);

    // This machine's first IPv4 address a phone in the shop can reach (not
    // loopback, not link-local); "" when there is none.
    static QString ShopNetworkAddress();
    // The address a phone opens, with the code after "#pair="; "" without
    // a shop network address.
    static QString PageAddress(const QString &code);
    // A QR code of the text, scale pixels a module, with its quiet zone;
    // a null image when the text cannot be encoded.
    static QImage QrImage(const QString &text, int scale = 4);
    int SecondsLeft() const;

signals:
    // "改为店内网络" was pressed: the interface is to listen on the shop network.
    void ShopNetworkWanted();

public slots:
    // The code was taken by a phone: the dialog closes.
    void CodeUsed();
    // Shows the code for the settings as they are now.
    void Refresh();

private:
    void Tick();

    QString m_code;
    quint32 m_madeAt; // Clock tick of the code
    QTimer m_tick;
    QLabel *m_qr;
    QLabel *m_address;
    QLabel *m_countdown;
    QLabel *m_localOnly;
    QPushButton *m_switch;
};
