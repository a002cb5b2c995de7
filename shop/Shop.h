#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QString>

class Announcer;
class PlayList;
class PlayLog;
class PriceListModel;
class PricePlayer;
class RemoteTexts;
class ShopSettings;
class Speake;
class TaskListModel;
class TimerSchedule;
class WordListModel;
class WordPlayer;

// The shop itself, with or without a window: its three lists, the word
// loop, the price loop and the timer's day, the operator's settings, the
// speech road and the background music. The window, the remote interface
// and any other road in talk to this object, never to each other.
class Shop : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Word, Price, Timer };
    // First request index of each source; a range ends where the next begins.
    static constexpr int kWordBase = 0;
    static constexpr int kPriceBase = 0x1000000;
    static constexpr int kTimerBase = 0x2000000;

    // Reads the settings and the three lists and starts the speech worker.
    explicit Shop(QObject *parent = nullptr);
    // Stops the worker first, so no report reaches a player being torn
    // down; lists with changes not yet written are written.
    ~Shop() override;

    ShopSettings &Settings() const { return *m_settings; }
    WordListModel *Words() const { return m_words; }
    PriceListModel *Prices() const { return m_prices; }
    TaskListModel *Tasks() const { return m_tasks; }
    WordPlayer *WordLoop() const { return m_wordLoop; }
    PricePlayer *PriceLoop() const { return m_priceLoop; }
    TimerSchedule *Timer() const { return m_timer; }
    Announcer *Speech() const { return m_announcer; }
    PlayList *Music() const { return m_music; }
    Speake *Worker() const { return m_worker; }
    RemoteTexts *Remote() const { return m_remote; }
    // Every announcement heard, kept in the data folder.
    PlayLog *Played() const { return m_playLog; }

    // A text from head office: judged and queued like any text from
    // outside (0 and the refusal's reason when refused); recorded as heard
    // under its message id.
    int SayForChain(const QString &id, const QString &text, QString *refusal);

    // The background music as set to start (with the program or with the
    // broadcasts).
    void StartMusic();
    // A mode's play or pause, as its buttons do (the word list plays from
    // its row in hand); the state after it.
    bool PlayMode(Mode mode);
    bool PauseMode(Mode mode);
    // "playing", "paused" or "stopped".
    QString ModeState(Mode mode) const;
    static bool ModeNamed(const QString &name, Mode *mode);
    // The music volume (0–100), kept in the settings.
    void SetMusicVolume(int volume);
    // Every list with changes not yet written is written now.
    void SaveAll();

private:
    ShopSettings *m_settings;
    Speake *m_worker;
    Announcer *m_announcer;
    PlayList *m_music;
    WordListModel *m_words;
    PriceListModel *m_prices;
    TaskListModel *m_tasks;
    WordPlayer *m_wordLoop;
    PricePlayer *m_priceLoop;
    TimerSchedule *m_timer;
    RemoteTexts *m_remote;
    PlayLog *m_playLog;
    QHash<QString, QStringList> m_chainIds; // texts from head office waiting to be heard → their ids
};
