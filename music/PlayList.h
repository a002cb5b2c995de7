#pragma once

#include <QObject>
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

    explicit PlayList(QObject *parent = nullptr);
    ~PlayList() override;

    const MusicPlayer &Player() const { return *m_player; }
    int Index() const { return m_index; }
    bool TurnedDown() const { return m_down; }
    // A track position by the never-seeded C random numbers.
    static int RandomTrack(int count);
    // The level the music plays at now, 0 to 100.
    int Level() const;

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

    std::unique_ptr<MusicPlayer> m_player;
    QTimer m_check;
    int m_index = 0;
    double m_trackGainDb = 0;
    bool m_down = false;
};
