#include "Parlivo.h"
#include "ui_Parlivo.h"

#include "Log.h"
#include "MusicPlayer.h"
#include "TrackLoudness.h"
#include "SettingsValues.h"
#include "Settings.h"
#include "ModeHelpers.h"
#include "MyMessageBox.h"
#include "DataBackup.h"
#include "PendingSaves.h"
#include "StoredFile.h"
#include "TimerMode.h"
#include "PriceMode.h"
#include "RemoteControl.h"
#include "SimplePlay.h"
#include "Speake.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>

#include <cstdlib>

namespace {
constexpr int kMusicCheckMs = 500;
constexpr int kPriceTab = 1;
}

Parlivo::Parlivo(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::ParlivoClass>()), m_speake(new Speake(this))
{
    ui->setupUi(this);
    setCentralWidget(ui->tabWidget);

    // A backup or restore a crash cut short is finished or rolled back
    // before any list is read.
    const QString interrupted = DataBackup::FinishInterrupted();
    if (!interrupted.isEmpty())
        MyMessageBox::ShowNotice(QStringLiteral("提示"), interrupted);

    m_speake->start();
    connect(m_speake, &Speake::ActionFinished, this, &Parlivo::ActionFinished);

    m_simplePlay = new SimplePlay(kWordModeBase, this);
    AddTab(m_simplePlay, QStringLiteral(":/image/simple.png"), tr("文字"));
    m_priceMode = new PriceMode(kPriceModeBase, this);
    AddTab(m_priceMode, QStringLiteral(":/image/money.png"), tr("报价"));
    m_timerMode = new TimerMode(kTimerModeBase, this);
    AddTab(m_timerMode, QStringLiteral(":/image/timer.png"), tr("定时"));
    m_settings = new Settings(this);
    AddTab(m_settings, QStringLiteral(":/image/settings.png"), tr("设置"));
    ConnectWordMode();
    ConnectPriceMode();
    ConnectTimerMode();

    auto *about = new QShortcut(QKeySequence(QStringLiteral("Ctrl+A")), this);
    connect(about, &QShortcut::activated, this, &Parlivo::ShowAbout);

    m_musicTimer = new QTimer(this);
    m_musicTimer->setInterval(kMusicCheckMs);
    connect(m_musicTimer, &QTimer::timeout, this, &Parlivo::CheckMusicStatus);
    m_player = std::make_unique<MusicPlayer>();
    StartMusicAtStartup();
    m_remote = new RemoteControl(this);
    connect(m_speake, &Speake::Spoken, m_remote, &RemoteControl::Spoken);
    connect(m_settings, &Settings::Saved, this, &Parlivo::ApplyRemoteSettings);
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

void Parlivo::ConnectWordMode()
{
    connect(m_simplePlay, &SimplePlay::OutAudio, m_speake, &Speake::SpeakAudio);
    connect(m_simplePlay, &SimplePlay::DelRecord, m_speake, &Speake::DeleteRecord);
    connect(m_simplePlay, &SimplePlay::StartPlay, this, &Parlivo::SomeTabStartPlay);
    connect(m_simplePlay, &SimplePlay::PlayMusic, this, &Parlivo::PlayMusic);
    connect(m_simplePlay, &SimplePlay::PauseMusic, this, &Parlivo::PauseMusic);
    connect(m_simplePlay, &SimplePlay::MusicSmaller, this, &Parlivo::MusicSmaller);
    connect(m_simplePlay, &SimplePlay::MusicNormal, this, &Parlivo::MusicNormal);
    connect(this, &Parlivo::SimplePlayActionFinished, m_simplePlay, &SimplePlay::ActionFinished);
    connect(this, &Parlivo::StopSimplePlayMode, m_simplePlay, &SimplePlay::Pause);
}

void Parlivo::ConnectPriceMode()
{
    connect(m_priceMode, &PriceMode::OutAudio, m_speake, &Speake::SpeakAudio);
    connect(m_priceMode, &PriceMode::StartPlay, this, &Parlivo::SomeTabStartPlay);
    connect(m_priceMode, &PriceMode::PlayMusic, this, &Parlivo::PlayMusic);
    connect(m_priceMode, &PriceMode::MusicSmaller, this, &Parlivo::MusicSmaller);
    connect(m_priceMode, &PriceMode::MusicNormal, this, &Parlivo::MusicNormal);
    connect(m_priceMode, &PriceMode::PauseMusic, this, &Parlivo::PauseMusic);
    connect(this, &Parlivo::PriceModeActionFinished, m_priceMode, &PriceMode::ActionFinished);
    connect(this, &Parlivo::StopPriceMode, m_priceMode, &PriceMode::Pause);
}

void Parlivo::ConnectTimerMode()
{
    connect(m_timerMode, &TimerMode::OutAudio, m_speake, &Speake::SpeakAudio);
    connect(m_timerMode, &TimerMode::StartPlay, this, &Parlivo::SomeTabStartPlay);
    connect(m_timerMode, &TimerMode::PlayMusic, this, &Parlivo::PlayMusic);
    connect(m_timerMode, &TimerMode::PauseMusic, this, &Parlivo::PauseMusic);
    connect(m_timerMode, &TimerMode::MusicSmaller, this, &Parlivo::MusicSmaller);
    connect(m_timerMode, &TimerMode::MusicNormal, this, &Parlivo::MusicNormal);
    connect(this, &Parlivo::TimerModeActionFinished, m_timerMode, &TimerMode::ActionFinished);
    connect(m_timerMode, &TimerMode::StartPriceMode, m_priceMode, &PriceMode::StartTimerModeControl);
    connect(m_timerMode, &TimerMode::StopPriceMode, m_priceMode, &PriceMode::StopTimerModeControl);
}

void Parlivo::ActionFinished(int index)
{
    if (index < kPriceModeBase)
        emit SimplePlayActionFinished(index);
    else if (index < kTimerModeBase)
        emit PriceModeActionFinished(index);
    else if (index < kRangeEnd)
        emit TimerModeActionFinished(index);
    else if (index < RemoteControl::kIndexEnd)
        m_remote->ActionFinished(index);
}

// Modes share the worker's queue, which speaks their requests in order.
// Starting one mode does not pause another: a pause sets the speech
// interrupt flag, which would cut the starting mode's own first row.
void Parlivo::SomeTabStartPlay()
{
    const int tab = ui->tabWidget->indexOf(qobject_cast<QWidget *>(sender()));
    PLOG(LOG_DEBUG, "tab %d started playing", tab);
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

int Parlivo::RandomTrack(int count)
{
    // rand() is never seeded: the same order at every start.
    return int(qint64(std::rand()) * 100000 % count);
}

void Parlivo::StartMusicAtStartup()
{
    const int tracks = int(g_settings.musicList.size());
    m_musicIndex = g_settings.musicPlayType == 2 && tracks > 0 ? RandomTrack(tracks) : 0;
    if (g_settings.musicStartType == 1) {
        PlayMusic();
        m_musicTimer->start(kMusicCheckMs);
    }
}

void Parlivo::PlayMusic()
{
    m_musicTimer->start(kMusicCheckMs);
    const MusicPlayer::Status status = m_player->GetStatus();
    if (status.paused) {
        qDebug("status switch from pause to play");
        m_player->Play();
        return;
    }
    if (status.playing)
        return;
    if (m_musicIndex < 0 || m_musicIndex >= g_settings.musicList.size())
        return;
    const QString path = g_settings.musicList.at(m_musicIndex);
    m_trackGainDb = 0;
    if (g_settings.musicLoudness) {
        // Known tracks play at their gain; a new one is measured meanwhile.
        m_trackGainDb = TrackLoudness::GainDb(path).value_or(0.0);
        TrackLoudness::MeasureLater(path);
    }
    m_player->SetVolume(NormalMusicVolume());
    if (!m_player->OpenFile(path)) {
        qDebug("Error: %s\n", qPrintable(m_player->LastError()));
        PLOG(LOG_WARNING, "music %s cannot be played: %s", qPrintable(path), qPrintable(m_player->LastError()));
        m_player->Close();
        return;
    }
    qDebug("play music: index = %d, name = %s", m_musicIndex, qPrintable(path));
    const qint64 ms = qMax<qint64>(0, m_player->LengthMs());
    qDebug("Length: %02u:%02u:%02u:%03u\n\n", unsigned(ms / 3600000), unsigned(ms / 60000 % 60),
           unsigned(ms / 1000 % 60), unsigned(ms % 1000));
    m_player->Play();
}

void Parlivo::CheckMusicStatus()
{
    if (m_player->GetStatus().playing)
        return;
    const int tracks = int(g_settings.musicList.size());
    switch (g_settings.musicPlayType) {
    case 0:
        m_musicIndex = m_musicIndex + 1 < tracks ? m_musicIndex + 1 : 0;
        break;
    case 2:
        if (tracks > 0)
            m_musicIndex = RandomTrack(tracks);
        break;
    default:
        break; // repeat one
    }
    PlayMusic();
}

void Parlivo::PauseMusic()
{
    m_musicTimer->stop();
    m_player->Pause();
}

void Parlivo::MusicSmaller()
{
    m_player->SetVolume(g_settings.volume / 2);
}

void Parlivo::MusicNormal()
{
    m_player->SetVolume(NormalMusicVolume());
}

int Parlivo::NormalMusicVolume() const
{
    return g_settings.musicLoudness ? TrackLoudness::Apply(g_settings.musicVol, m_trackGainDb) : g_settings.musicVol;
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
