#include "app/Parlivo.h"
#include "ui_Parlivo.h"

#include "core/Log.h"
#include "music/PlayList.h"
#include "speech/Announcer.h"
#include "core/SettingsValues.h"
#include "settings/PhonePairing.h"
#include "settings/Settings.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "settings/DataBackup.h"
#include "core/PendingSaves.h"
#include "core/StoredFile.h"
#include "modes/TimerMode.h"
#include "modes/PriceMode.h"
#include "app/RemoteControl.h"
#include "modes/SimplePlay.h"
#include "speech/Speake.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>

#include <cstdlib>

namespace {
constexpr int kPriceTab = 1;
}

Parlivo::Parlivo(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::ParlivoClass>()), m_speake(new Speake(this))
{
    // The images and the phone page live in the static library: its
    // resources are registered here, not left to the linker's choice.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    setCentralWidget(ui->tabWidget);
    MyMessageBox::ShowRaisedNotices();

    // A backup or restore a crash cut short is finished or rolled back
    // before any list is read.
    const QString interrupted = DataBackup::FinishInterrupted();
    if (!interrupted.isEmpty())
        MyMessageBox::ShowNotice(QStringLiteral("提示"), interrupted);

    m_speake->start();
    m_announcer = new Announcer(m_speake, this);
    m_music = new PlayList(this);
    connect(m_music, &PlayList::Notice, this, [](const QString &text) { MyMessageBox::ShowNotice(QStringLiteral("提示"), text); });
    connect(m_announcer, &Announcer::DuckMusic, m_music, &PlayList::TurnDown);
    connect(m_announcer, &Announcer::WantMusic, m_music, [this](bool playing) {
        if (playing)
            m_music->Play();
        else
            m_music->Pause();
    });

    m_simplePlay = new SimplePlay(kWordModeBase, this);
    AddTab(m_simplePlay, QStringLiteral(":/image/simple.png"), tr("文字"));
    m_priceMode = new PriceMode(kPriceModeBase, this);
    AddTab(m_priceMode, QStringLiteral(":/image/money.png"), tr("报价"));
    m_timerMode = new TimerMode(kTimerModeBase, this);
    AddTab(m_timerMode, QStringLiteral(":/image/timer.png"), tr("定时"));
    m_settings = new Settings(this);
    AddTab(m_settings, QStringLiteral(":/image/settings.png"), tr("设置"));
    ConnectModes();

    auto *about = new QShortcut(QKeySequence(QStringLiteral("Ctrl+A")), this);
    connect(about, &QShortcut::activated, this, &Parlivo::ShowAbout);

    m_music->StartAtStartup();
    m_remote = new RemoteControl(this);
    SpeechSource *remote = m_announcer->From(Announcer::Remote);
    connect(remote, &SpeechSource::Spoken, m_remote, &RemoteControl::Spoken);
    connect(remote, &SpeechSource::Finished, m_remote, &RemoteControl::ActionFinished);
    connect(m_settings, &Settings::Saved, this, &Parlivo::ApplyRemoteSettings);
    connect(m_remote, &RemoteControl::DevicesChanged, m_settings->Pairing(), &PhonePairing::ShowDevices);
    // A volume set from a phone is kept like one set in the music manager.
    connect(m_remote, &RemoteControl::MusicVolumeChanged, m_settings, [this] { m_settings->Store(); });
    ApplyRemoteSettings();

    ui->tabWidget->setCurrentIndex(kPriceTab);
    setWindowTitle(WindowTitle());
}

Parlivo::~Parlivo()
{
    // The worker stops first, so no report reaches a mode being torn down.
    m_speake->Stop();
    disconnect(m_speake, nullptr, this, nullptr);
}

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

// Each mode speaks through its own source of the announcer, which sends
// the reports back to it alone; a mode's pause cuts only its own speech.
template <typename Mode>
void Parlivo::ConnectMode(Mode *mode, Announcer::Source which)
{
    SpeechSource *source = m_announcer->From(which);
    connect(mode, &Mode::OutAudio, source, &SpeechSource::Request);
    connect(mode, &Mode::DelRecord, source, &SpeechSource::Drop);
    connect(mode, &Mode::CancelSpeech, source, &SpeechSource::Cancel);
    connect(mode, &Mode::Active, source, &SpeechSource::SetActive);
    connect(source, &SpeechSource::Finished, mode, &Mode::ActionFinished);
}

void Parlivo::ConnectModes()
{
    ConnectMode(m_simplePlay, Announcer::Word);
    ConnectMode(m_priceMode, Announcer::Price);
    ConnectMode(m_timerMode, Announcer::Timer);
    connect(m_timerMode, &TimerMode::StartPriceMode, m_priceMode, &PriceMode::StartTimerModeControl);
    connect(m_timerMode, &TimerMode::StopPriceMode, m_priceMode, &PriceMode::StopTimerModeControl);
}

void Parlivo::ShowAbout()
{
    QMessageBox::about(this, tr("关于Parlivo"), AboutText());
}

void Parlivo::ApplyRemoteSettings()
{
    if (!g_settings.remoteEnabled) {
        m_remote->Stop();
        return;
    }
    m_remote->Start(quint16(g_settings.remotePort), g_settings.remoteShopNetwork, RemoteControl::Token());
}

// Lists still waiting for their save are written now; when a list could
// not be saved, the operator decides whether to quit anyway (否 keeps the
// window, and the changes in it).
void Parlivo::closeEvent(QCloseEvent *event)
{
    PendingSaves::SaveAllNow();
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
