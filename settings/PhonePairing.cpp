#include "shop/ShopSettings.h"
#include "settings/PhonePairing.h"

#include "core/RemoteAccess.h"
#include "core/SettingsValues.h"
#include "settings/PairingDialog.h"
#include "settings/Settings.h"

#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

PhonePairing::PhonePairing(QWidget *parent)
    : QWidget(parent), m_pair(new QPushButton(QStringLiteral("配对手机"), this)), m_devices(new QListWidget(this)),
      m_revoke(new QPushButton(QStringLiteral("撤销"), this))
{
    setObjectName(QStringLiteral("phonePairing"));
    m_pair->setObjectName(QStringLiteral("pushButton_pair"));
    m_devices->setObjectName(QStringLiteral("listWidget_phones"));
    // A fixed height whether or not phones are paired: the window keeps its size.
    m_devices->setFixedHeight(60);
    m_revoke->setObjectName(QStringLiteral("pushButton_revoke"));
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_devicesTitle = new QLabel(QStringLiteral("已配对的手机"), this);
    layout->addWidget(m_pair, 0, 0);
    layout->addWidget(m_devicesTitle, 0, 1);
    layout->addWidget(m_devices, 1, 0, 1, 2);
    layout->addWidget(m_revoke, 2, 0);
    connect(m_pair, &QPushButton::clicked, this, &PhonePairing::NewCode);
    connect(m_revoke, &QPushButton::clicked, this, &PhonePairing::RevokeSelected);
    ShowDevices();
}

void PhonePairing::NewCode()
{
    if (m_dialog)
        m_dialog->close(); // one code on screen at a time
    if (!g_settings.remoteEnabled) {
        QMessageBox::information(window(), QStringLiteral("配对手机"), QStringLiteral("请先开启远程控制并保存设置。"));
        return;
    }
    m_pairedWhenOpened = m_devices->count();
    m_dialog = new PairingDialog(RemoteAccess::NewPairingCode(), window()); // deletes itself on close
    connect(m_dialog, &PairingDialog::ShopNetworkWanted, this, &PhonePairing::ShopNetworkWanted);
    m_dialog->show();
}

void PhonePairing::ShowDevices()
{
    m_devices->clear();
    for (const RemoteAccess::Device &device : RemoteAccess::Devices(ShopSettings::Folder())) {
        auto *item = new QListWidgetItem(
            QStringLiteral("%1（%2 配对）").arg(device.name, device.paired.toString(QStringLiteral("yyyy-MM-dd hh:mm"))));
        item->setData(Qt::UserRole, device.id);
        m_devices->addItem(item);
    }
    m_revoke->setEnabled(m_devices->count() > 0);
    // A phone paired with the code on screen: the code is used up.
    if (m_dialog && m_devices->count() > m_pairedWhenOpened)
        m_dialog->CodeUsed();
}

void PhonePairing::RevokeSelected()
{
    const QListWidgetItem *item = m_devices->currentItem();
    if (!item)
        return;
    RemoteAccess::Revoke(ShopSettings::Folder(), item->data(Qt::UserRole).toString());
    ShowDevices();
}
