#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// Pairing shop phones with the remote interface: "配对手机" shows a QR code
// of the phone page's address with a one-time code (valid ten minutes),
// and the phones paired so far, by name and time, each revocable.
class PhonePairing : public QWidget
{
    Q_OBJECT

public:
    explicit PhonePairing(QWidget *parent = nullptr);

    // The address a phone opens, with the code after "#pair=".
    static QString PageAddress(const QString &code);
    // A QR code of the text, scale pixels a module, with its quiet zone;
    // a null image when the text cannot be encoded.
    static QImage QrImage(const QString &text, int scale = 4);

public slots:
    void NewCode();
    void ShowDevices();
    void RevokeSelected();

private:
    QPushButton *m_pair;
    QLabel *m_qr;
    QLabel *m_code;
    QLabel *m_devicesTitle = nullptr;
    QListWidget *m_devices;
    QPushButton *m_revoke;
};
