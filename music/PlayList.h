#pragma once

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>

#include <memory>

class MusicPlayer;

// The background music as the shop hears it: the operator's play list
// (in order, one track repeated, or at random), the track's loudness gain,
// and the level the announcer asks for (normal, or turned down to the
// smaller of the music's own level and half the speech volume).
class PlayList : public QObject
{
    Q_OBJECT

public:
    static constexpr int kCheckMs = 500;
    // A track found ended this soon after it started played nothing (it
    // is looked at every kCheckMs).
    static constexpr int kMinPlayMs = kCheckMs + 200;
    // With no track playable the music waits this long (or for a new list)
    // before trying the tracks again.
    static constexpr quint32 kRetryMs = 5 * 60 * 1000;

    explicit PlayList(QObject *parent = nullptr);
    ~PlayList() override;

    const MusicPlayer &Player() const { return *m_player; }
    int Index() const { return m_index; }
    bool TurnedDown() const { return m_down; }
    // A track position by the never-seeded C random numbers.
    static int RandomTrack(int count);
    // The level the music plays at now, 0 to 100.
    int Level() const;
    // No track of the list could be played: the music waits.
    bool Stopped() const { return m_noTrack; }

signals:
    // Something the operator should know (a track skipped, the music
    // stopped), said once.
    void Notice(const QString &text);

public slots:
    // Starts with the first track (a random one when the order is random),
    // playing at once when the music starts with the program.
    void StartAtStartup();
    // Resumes a paused track or opens the current one.
    void Play();
    void Pause();
    // Turned down while speech is heard, or back to the normal level.
    void TurnDown(bool down);
    // The music volume setting changed: the level follows (gliding).
    void ApplyVolume();
    // Moves to the next track when the current one has ended.
    void CheckStatus();

private:
    int NormalLevel() const;
    // Opens and starts the current track; false (told once) when it cannot.
    bool StartCurrent();
    // From the current track on, the first that starts; when none does,
    // the music stops and says so once.
    void StartFirstPlayable();
    void MarkFailed(const QString &path, const QString &why);
    void Advance();
    // A new list: its tracks are tried (and told about) afresh.
    void NoticeListChange();

    std::unique_ptr<MusicPlayer> m_player;
    QTimer m_check;
    int m_index = 0;
    double m_trackGainDb = 0;
    bool m_down = false;
    QStringList m_list;       // the list the failures below belong to
    QSet<QString> m_failed;   // skipped until the list changes or the retry
    QSet<QString> m_told;     // said once per list
    bool m_noTrack = false;   // no track could be played: waiting
    bool m_toldNoTrack = false;
    quint32 m_stoppedAt = 0;  // Clock tick of the stop
    quint32 m_startedAt = 0;  // Clock tick of the current track's start
};
