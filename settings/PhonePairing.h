#pragma once

#include "settings/PairingDialog.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

// Pairing shop phones with the remote interface: "配对手机" opens a window
// with a QR code of the phone page's address and a one-time code (valid
// ten minutes); below the button, always the same size, the phones paired
// so far, by name and time, each revocable.
class PhonePairing : public QWidget
{
    Q_OBJECT

public:
    explicit PhonePairing(QWidget *parent = nullptr);

    // The open pairing window, if any.
    PairingDialog *Dialog() const { return m_dialog; }

signals:
    // The pairing window's "改为店内网络".
    void ShopNetworkWanted();

public slots:
    void NewCode();
    void ShowDevices();
    void RevokeSelected();

private:
    QPushButton *m_pair;
    QLabel *m_devicesTitle = nullptr;
    QListWidget *m_devices;
    QPushButton *m_revoke;
    QPointer<PairingDialog> m_dialog;
    int m_pairedWhenOpened = 0;
};
