#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

typedef struct _Mix_Music Mix_Music;

// The background music player: one track at a time on the mixer's music
// stream of the shared sound device, with the seven operations the main
// window uses (status, open, last error, length, volume, play, pause).
// Level changes, starting and pausing glide over kRampMs instead of
// stepping, so nothing clicks; the level always ends exactly where asked.
class MusicPlayer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRampMs = 300;
    static constexpr int kRampStepMs = 10;

    struct Status
    {
        bool playing = false; // a track plays (and is not paused or pausing)
        bool paused = false;
    };

    MusicPlayer();
    ~MusicPlayer() override;

    Status GetStatus() const;
    // The state as last set or read here, without asking the sound device
    // (for readers that must never wait on it).
    Status KnownStatus() const { return m_known; }
    // Opens a file in any format the mixer reads (the format is detected);
    // the previous track is let go. False with LastError() on failure.
    bool OpenFile(const QString &path);
    QString LastError() const { return m_lastError; }
    // The opened track's length; -1 when unknown.
    qint64 LengthMs() const;
    // Where the opened track is; -1 when unknown.
    qint64 PositionMs() const;
    // 0 to 100; reached over kRampMs.
    void SetVolume(int volume);
    // Starts the opened track, or resumes a paused one, rising from silence.
    void Play();
    // Fades out, then pauses.
    void Pause();
    // Lets the opened track go (after a failed open, and at the end).
    void Close();

private:
    void Step();
    void StartRamp(double to);
    void Apply(double level);

    Mix_Music *m_music = nullptr;
    QString m_lastError;
    QTimer m_ramp;
    double m_level = 0;  // the level applied now, 0 to 100
    double m_from = 0;
    double m_to = 0;
    int m_stepsLeft = 0;
    int m_stepsTotal = 0;
    int m_volume = 100;  // the level asked for while playing
    bool m_pausing = false;
    mutable Status m_known;
};
