#pragma once

#include <QMainWindow>

#include <memory>

#include "speech/Announcer.h"

class Speake;
class PlayList;
class SimplePlay;
class PriceMode;
class TimerMode;
class Settings;
class RemoteControl;
namespace Ui {
class ParlivoClass;
}

// The main window: owns the speech worker, the announcer every source
// speaks through, the background music and the four tabs, and connects
// each mode to its own source of the announcer.
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
    Announcer *Speech() const { return m_announcer; }
    PlayList *Music() const { return m_music; }
    RemoteControl *Remote() const { return m_remote; }

public slots:
    void ShowAbout();
    // Starts, moves or stops the remote control interface as g_settings says.
    void ApplyRemoteSettings();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void AddTab(QWidget *page, const QString &icon, const QString &label);
    template <typename Mode>
    void ConnectMode(Mode *mode, Announcer::Source which);
    void ConnectModes();

    std::unique_ptr<Ui::ParlivoClass> ui;
    Speake *m_speake;
    SimplePlay *m_simplePlay = nullptr;
    PriceMode *m_priceMode = nullptr;
    TimerMode *m_timerMode = nullptr;
    Settings *m_settings = nullptr;
    Announcer *m_announcer = nullptr;
    PlayList *m_music = nullptr;
    RemoteControl *m_remote = nullptr;
};
