#include "Parlivo.h"
#include "ui_Parlivo.h"

#include "Log.h"
#include "ModeHelpers.h"
#include "PendingSaves.h"
#include "StoredFile.h"
#include "TimerMode.h"
#include "PriceMode.h"
#include "SimplePlay.h"
#include "Speake.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QShortcut>
#include <QTabBar>
#include <QTimer>

namespace {
constexpr int kMusicCheckMs = 500;
constexpr int kPriceTab = 1;
}

Parlivo::Parlivo(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::ParlivoClass>()), m_speake(new Speake(this))
{
    ui->setupUi(this);
    setCentralWidget(ui->tabWidget);

    m_speake->start();
    connect(m_speake, &Speake::ActionFinished, this, &Parlivo::ActionFinished);

    m_simplePlay = new SimplePlay(kWordModeBase, this);
    AddTab(m_simplePlay, QStringLiteral(":/image/simple.png"), tr("文字"));
    m_priceMode = new PriceMode(kPriceModeBase, this);
    AddTab(m_priceMode, QStringLiteral(":/image/money.png"), tr("报价"));
    m_timerMode = new TimerMode(kTimerModeBase, this);
    AddTab(m_timerMode, QStringLiteral(":/image/timer.png"), tr("定时"));
    // The settings page holds its tab place until it is built.
    AddTab(new QWidget(this), QStringLiteral(":/image/settings.png"), tr("设置"));
    ConnectWordMode();
    ConnectPriceMode();
    ConnectTimerMode();

    auto *about = new QShortcut(QKeySequence(QStringLiteral("Ctrl+A")), this);
    connect(about, &QShortcut::activated, this, &Parlivo::ShowAbout);

    m_musicTimer = new QTimer(this);
    m_musicTimer->setInterval(kMusicCheckMs);
    connect(m_musicTimer, &QTimer::timeout, this, &Parlivo::CheckMusicStatus);

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

// The background music player arrives with its own work; until then the
// modes' music requests have nothing to act on.
void Parlivo::CheckMusicStatus() {}
void Parlivo::PlayMusic() {}
void Parlivo::PauseMusic() {}
void Parlivo::MusicSmaller() {}
void Parlivo::MusicNormal() {}

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
