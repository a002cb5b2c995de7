#include "settings/PairingDialog.h"

#include "core/Clock.h"
#include "core/RemoteAccess.h"
#include "core/SettingsValues.h"

#include <QDialogButtonBox>
#include <QHostAddress>
#include <QImage>
#include <QLabel>
#include <QNetworkInterface>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <qrencode.h>

PairingDialog::PairingDialog(const QString &code, QWidget *parent)
    : QDialog(parent), m_code(code), m_madeAt(Clock::Current().TickMs()), m_qr(new QLabel(this)), m_address(new QLabel(this)),
      m_countdown(new QLabel(this)), m_localOnly(new QLabel(this)),
      m_switch(new QPushButton(QStringLiteral("改为店内网络"), this))
{
    setObjectName(QStringLiteral("pairingDialog"));
    setWindowTitle(QStringLiteral("配对手机"));
    setAttribute(Qt::WA_DeleteOnClose);
    m_qr->setObjectName(QStringLiteral("label_qr"));
    m_qr->setAlignment(Qt::AlignCenter);
    m_address->setObjectName(QStringLiteral("label_pairCode"));
    m_address->setWordWrap(true);
    m_address->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_countdown->setObjectName(QStringLiteral("label_countdown"));
    m_localOnly->setObjectName(QStringLiteral("label_localOnly"));
    m_localOnly->setWordWrap(true);
    m_localOnly->setText(QStringLiteral("现在远程控制设为“仅本机”，手机打不开。手机需要“店内网络”：手机和本机连在同一个网络。"));
    m_switch->setObjectName(QStringLiteral("pushButton_shopNetwork"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto *layout = new QVBoxLayout(this);
    for (QWidget *w : std::initializer_list<QWidget *>{m_localOnly, m_switch, m_qr, m_address, m_countdown, buttons})
        layout->addWidget(w);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_switch, &QPushButton::clicked, this, [this] {
        emit ShopNetworkWanted();
        Refresh();
    });
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &PairingDialog::Tick);
    m_tick.start();
    Refresh();
}

QString PairingDialog::ShopNetworkAddress()
{
    for (const QHostAddress &address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() && !address.isLinkLocal())
            return address.toString();
    return {};
}

QString PairingDialog::PageAddress(const QString &code)
{
    const QString host = ShopNetworkAddress();
    if (host.isEmpty())
        return {};
    return QStringLiteral("http://%1:%2/#pair=%3").arg(host).arg(g_settings.remotePort).arg(code);
}

QImage PairingDialog::QrImage(const QString &text, int scale)
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

int PairingDialog::SecondsLeft() const
{
    const qint64 age = Clock::Current().TickMs() - m_madeAt;
    return int(qMax<qint64>(0, RemoteAccess::kPairingMinutes * 60 - age / 1000));
}

void PairingDialog::CodeUsed()
{
    close();
}

void PairingDialog::Refresh()
{
    const bool localOnly = !g_settings.remoteShopNetwork;
    m_localOnly->setVisible(localOnly);
    m_switch->setVisible(localOnly);
    const QString address = PageAddress(m_code);
    if (address.isEmpty()) {
        m_qr->clear();
        m_address->setText(QStringLiteral("本机没有连接店内网络，手机无法连接。配对码 %1").arg(m_code));
    } else {
        m_qr->setPixmap(QPixmap::fromImage(QrImage(address)));
        m_address->setText(QStringLiteral("用手机扫描二维码，或打开 %1 输入配对码 %2（只能用一次）")
                               .arg(address.section(QLatin1Char('#'), 0, 0), m_code));
    }
    Tick();
}

void PairingDialog::Tick()
{
    const int left = SecondsLeft();
    if (left == 0) {
        close(); // the code has expired: nothing of it stays on screen
        return;
    }
    m_countdown->setText(QStringLiteral("配对码还有 %1:%2 有效").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0')));
}
