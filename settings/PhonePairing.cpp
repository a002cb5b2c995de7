#include "shop/ShopSettings.h"
#include "settings/PhonePairing.h"

#include "core/RemoteAccess.h"
#include "core/SettingsValues.h"
#include "settings/Settings.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QHostAddress>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QNetworkInterface>
#include <QPixmap>
#include <QPushButton>

#include <qrencode.h>

namespace {


// The address phones reach this PC at: the shop network's own address
// when the interface listens there, else this PC alone.
QString HostAddress()
{
    if (g_settings.remoteShopNetwork)
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() && !address.isLinkLocal())
                return address.toString();
    return QStringLiteral("127.0.0.1");
}

} // namespace

PhonePairing::PhonePairing(QWidget *parent)
    : QWidget(parent), m_pair(new QPushButton(QStringLiteral("配对手机"), this)), m_qr(new QLabel(this)),
      m_code(new QLabel(this)), m_devices(new QListWidget(this)), m_revoke(new QPushButton(QStringLiteral("撤销"), this))
{
    setObjectName(QStringLiteral("phonePairing"));
    m_pair->setObjectName(QStringLiteral("pushButton_pair"));
    m_qr->setObjectName(QStringLiteral("label_qr"));
    m_code->setObjectName(QStringLiteral("label_pairCode"));
    m_code->setWordWrap(true);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_devices->setObjectName(QStringLiteral("listWidget_phones"));
    m_devices->setMaximumHeight(90);
    m_revoke->setObjectName(QStringLiteral("pushButton_revoke"));
    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pair, 0, 0);
    layout->addWidget(m_code, 0, 1);
    layout->addWidget(m_qr, 1, 0, 1, 2, Qt::AlignHCenter);
    m_devicesTitle = new QLabel(QStringLiteral("已配对的手机"), this);
    layout->addWidget(m_devicesTitle, 2, 0, 1, 2);
    layout->addWidget(m_devices, 3, 0, 1, 2);
    layout->addWidget(m_revoke, 4, 0);
    m_qr->hide();
    connect(m_pair, &QPushButton::clicked, this, &PhonePairing::NewCode);
    connect(m_revoke, &QPushButton::clicked, this, &PhonePairing::RevokeSelected);
    ShowDevices();
}

QString PhonePairing::PageAddress(const QString &code)
{
    return QStringLiteral("http://%1:%2/#pair=%3").arg(HostAddress()).arg(g_settings.remotePort).arg(code);
}

QImage PhonePairing::QrImage(const QString &text, int scale)
{
    const QByteArray utf8 = text.toUtf8();
    QRcode *code = QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    constexpr int kQuiet = 4;
    const int size = (code->width + 2 * kQuiet) * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                for (int dy = 0; dy < scale; ++dy)
                    for (int dx = 0; dx < scale; ++dx)
                        image.setPixel((x + kQuiet) * scale + dx, (y + kQuiet) * scale + dy, qRgb(0, 0, 0));
    QRcode_free(code);
    return image;
}

void PhonePairing::NewCode()
{
    if (!g_settings.remoteEnabled) {
        m_qr->hide();
        m_code->setText(QStringLiteral("请先开启远程控制并保存设置。"));
        return;
    }
    const QString code = RemoteAccess::NewPairingCode();
    const QString address = PageAddress(code);
    m_qr->setPixmap(QPixmap::fromImage(QrImage(address)));
    m_qr->show();
    m_code->setText(QStringLiteral("用手机扫描二维码，或打开 %1 输入配对码 %2（%3分钟内有效，只能用一次）")
                        .arg(address.section(QLatin1Char('#'), 0, 0), code)
                        .arg(RemoteAccess::kPairingMinutes));
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
    // Shown only once a phone is paired: the tab stays short until then.
    const bool any = m_devices->count() > 0;
    m_devicesTitle->setVisible(any);
    m_devices->setVisible(any);
    m_revoke->setVisible(any);
}

void PhonePairing::RevokeSelected()
{
    const QListWidgetItem *item = m_devices->currentItem();
    if (!item)
        return;
    RemoteAccess::Revoke(ShopSettings::Folder(), item->data(Qt::UserRole).toString());
    ShowDevices();
}
