#pragma once

#include <QString>

typedef struct _Mix_Music Mix_Music;

// The background music player: one track at a time on the mixer's music
// stream of the shared sound device, with the seven operations the main
// window uses (status, open, last error, length, volume, play, pause).
class MusicPlayer
{
public:
    struct Status
    {
        bool playing = false; // a track plays (and is not paused)
        bool paused = false;
    };

    MusicPlayer() = default;
    ~MusicPlayer();
    MusicPlayer(const MusicPlayer &) = delete;
    MusicPlayer &operator=(const MusicPlayer &) = delete;

    Status GetStatus() const;
    // Opens a file in any format the mixer reads (the format is detected);
    // the previous track is let go. False with LastError() on failure.
    bool OpenFile(const QString &path);
    QString LastError() const { return m_lastError; }
    // The opened track's length; -1 when unknown.
    qint64 LengthMs() const;
    // Where the opened track is; -1 when unknown.
    qint64 PositionMs() const;
    // 0 to 100.
    void SetVolume(int volume);
    // Starts the opened track, or resumes a paused one.
    void Play();
    void Pause();
    // Lets the opened track go (after a failed open, and at the end).
    void Close();

private:
    Mix_Music *m_music = nullptr;
    QString m_lastError;
};
