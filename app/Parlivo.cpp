#include "app/Parlivo.h"
#include "ui_Parlivo.h"

#include "app/ChainLink.h"
#include "app/ChainRoad.h"
#include "app/ChainSettings.h"
#include "app/RemoteControl.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "modes/PriceMode.h"
#include "modes/SimplePlay.h"
#include "modes/TimerMode.h"
#include "settings/PhonePairing.h"
#include "settings/Settings.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "core/StoredFile.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>

#include <cstdlib>

namespace {
constexpr int kPriceTab = 1;
}

Parlivo::Parlivo(Shop *shop, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::ParlivoClass>()), m_shop(shop)
{
    // The images and the phone page live in the static library: its
    // resources are registered here, not left to the linker's choice.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    setCentralWidget(ui->tabWidget);
    MyMessageBox::ShowRaisedNotices();

    m_simplePlay = new SimplePlay(shop, this);
    AddTab(m_simplePlay, QStringLiteral(":/image/simple.png"), tr("文字"));
    m_priceMode = new PriceMode(shop, this);
    AddTab(m_priceMode, QStringLiteral(":/image/money.png"), tr("报价"));
    m_timerMode = new TimerMode(shop, this);
    AddTab(m_timerMode, QStringLiteral(":/image/timer.png"), tr("定时"));
    m_settings = new Settings(&shop->Settings(), this);
    AddTab(m_settings, QStringLiteral(":/image/settings.png"), tr("设置"));

    auto *about = new QShortcut(QKeySequence(QStringLiteral("Ctrl+A")), this);
    connect(about, &QShortcut::activated, this, &Parlivo::ShowAbout);

    m_remote = new RemoteControl(shop, this);
    connect(m_settings, &Settings::Saved, this, &Parlivo::ApplyRemoteSettings);
    connect(m_remote, &RemoteControl::DevicesChanged, m_settings->Pairing(), &PhonePairing::ShowDevices);
    ApplyRemoteSettings();
    m_chain = new ChainRoad(shop, this);
    m_settings->AddSection(ChainSettings::Buttons(shop, m_chain->Link(), m_settings));
    m_chain->Apply();

    ui->tabWidget->setCurrentIndex(kPriceTab);
    setWindowTitle(WindowTitle());
}

Parlivo::~Parlivo() = default;

QString Parlivo::WindowTitle()
{
    return QStringLiteral("Parlivo(加强版)V1.7 ") + QStringLiteral("{2022-01-01}");
}

QString Parlivo::AboutText()
{
    return QStringLiteral("Parlivo(加强版)V1.7\n专业为您提供自动语音广播服务");
}

QRect Parlivo::StartGeometry(const QRect &available, int width)
{
    return QRect((available.width() - width) / 2, 30, width, available.height() - 50);
}

void Parlivo::AddTab(QWidget *page, const QString &icon, const QString &label)
{
    ui->tabWidget->addTab(page, QIcon(icon), label);
}

void Parlivo::ShowAbout()
{
    QMessageBox::about(this, tr("关于Parlivo"), AboutText());
}

void Parlivo::ApplyRemoteSettings()
{
    const SettingsValues &settings = m_shop->Settings().Values();
    if (!settings.remoteEnabled) {
        m_remote->Stop();
        return;
    }
    m_remote->Start(quint16(settings.remotePort), settings.remoteShopNetwork, RemoteControl::Token());
}

// Lists still waiting for their save are written now; when a list could
// not be saved, the operator decides whether to quit anyway (否 keeps the
// window, and the changes in it).
void Parlivo::closeEvent(QCloseEvent *event)
{
    m_shop->SaveAll();
    const QStringList failed = StoredFile::FailedFiles();
    if (!failed.isEmpty()
        && !ConfirmWarning(QStringLiteral("以下文件未能保存，最近的修改只在窗口中：\n%1\n仍要退出吗？")
                               .arg(failed.join(QLatin1Char('\n'))))) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void Parlivo::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    const int width = ui->tabWidget->width() / ui->tabWidget->count();
    ui->tabWidget->setStyleSheet(QStringLiteral("QTabBar::tab{width:%1}").arg(width));
}

void Parlivo::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    // Notices raised while the lists loaded were placed before the window
    // had its place.
    MyMessageBox::CentreAllOnMainWindow();
}
