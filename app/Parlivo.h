#pragma once

#include <QMainWindow>

#include <memory>

class QTimer;
class Speake;
class SimplePlay;
class PriceMode;
class TimerMode;
class Settings;
class MusicPlayer;
class RemoteControl;
namespace Ui {
class ParlivoClass;
}

// The main window: owns the speech worker and the four tabs, sends every
// mode's speech requests to the worker and routes each finish report back
// to the mode whose index range it lies in.
class Parlivo : public QMainWindow
{
    Q_OBJECT

public:
    // First request index of each mode; the range of a mode ends where the next begins.
    static constexpr int kWordModeBase = 0;
    static constexpr int kPriceModeBase = 0x1000000;
    static constexpr int kTimerModeBase = 0x2000000;
    static constexpr int kRangeEnd = 0x3000000;

    explicit Parlivo(QWidget *parent = nullptr);
    ~Parlivo() override;

    static QString WindowTitle();
    static QString AboutText();
    // Left 1/2 of the free width, 30 from the top, the available height less 50.
    static QRect StartGeometry(const QRect &available, int width);

    Speake *Worker() const { return m_speake; }
    SimplePlay *WordMode() const { return m_simplePlay; }
    PriceMode *PricePage() const { return m_priceMode; }
    TimerMode *TimerPage() const { return m_timerMode; }
    Settings *SettingsPage() const { return m_settings; }
    int MusicIndex() const { return m_musicIndex; }
    const MusicPlayer &Player() const { return *m_player; }
    RemoteControl *Remote() const { return m_remote; }
    // A track position by the never-seeded C random numbers.
    static int RandomTrack(int count);

signals:
    void SimplePlayActionFinished(int index);
    void PriceModeActionFinished(int index);
    void TimerModeActionFinished(int index);
    void StopSimplePlayMode();
    void StopPriceMode();

public slots:
    void ActionFinished(int index);
    void SomeTabStartPlay();
    void ShowAbout();
    void CheckMusicStatus();
    void PlayMusic();
    void PauseMusic();
    void MusicSmaller();
    void MusicNormal();
    // Starts, moves or stops the remote control interface as g_settings says.
    void ApplyRemoteSettings();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void AddTab(QWidget *page, const QString &icon, const QString &label);
    void ConnectWordMode();
    void ConnectPriceMode();
    void ConnectTimerMode();
    void StartMusicAtStartup();
    // The music volume, with the track's loudness gain when that is on.
    int NormalMusicVolume() const;

    std::unique_ptr<Ui::ParlivoClass> ui;
    Speake *m_speake;
    SimplePlay *m_simplePlay = nullptr;
    PriceMode *m_priceMode = nullptr;
    TimerMode *m_timerMode = nullptr;
    Settings *m_settings = nullptr;
    std::unique_ptr<MusicPlayer> m_player;
    RemoteControl *m_remote = nullptr;
    QTimer *m_musicTimer = nullptr;
    int m_musicIndex = 0;
    double m_trackGainDb = 0;
};
