#pragma once

#include "speech/SpeechRequest.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <functional>

// The one thread that speaks: takes requests in order, synthesizes texts
// into the speech cache when needed, plays them or waits, and reports each
// request that asked for it.
class Speake : public QThread
{
    Q_OBJECT

public:
    explicit Speake(QObject *parent = nullptr);
    // Stops the loop (cutting the request in hand) and waits for the thread.
    ~Speake() override;

    // Ends the loop after the request in hand; a wait or playback in hand is cut.
    void Stop();
    // How long the worker sits idle before it lets the sound device go
    // (reopened for the next request); negative: never.
    void SetDeviceReleaseMs(int ms) { m_deviceReleaseMs = ms; }
    // Requests waiting (the one in hand not counted).
    int QueueLength();

public slots:
    void SpeakAudio(int index, int type, QString content, bool needFinisheReport);
    // Drops the first queued request with this index. One that still owes
    // a report stays queued as a report only, so its mode never waits forever.
    void DeleteRecord(int index);

public:
    // Queues a request where its rank puts it (see SpeechRequest::Rank). Any thread.
    void Queue(int index, int type, const QString &content, bool needFinisheReport, int rank);
    // Drops every queued request whose index matches (those owing a report
    // stay as reports only) and cuts the request in hand when it matches:
    // its synthesis, chime, sound or wait end at once. Any thread.
    void Cancel(const std::function<bool(int index)> &matches);

signals:
    void ActionFinished(int index);
    // Before ActionFinished of a text: whether it was really played (false
    // when no sound could be made of it).
    void Spoken(int index, bool heard);
    // The chime or the speech of a text begins to sound, and has ended
    // (its tail included). Waits make no sound.
    void SoundStarted(int index);
    void SoundEnded(int index);

protected:
    void run() override;

private:
    // Sleeps until a request is queued or the worker stops.
    bool TakeNext(SpeechRequest *request);
    void Process(const SpeechRequest &request);
    void Wait(const SpeechRequest &request);
    void Speak(const SpeechRequest &request);

    std::deque<SpeechRequest> m_queue;
    QMutex m_queueMutex;
    QWaitCondition m_queued;
    std::atomic<bool> m_running{true};
    // Cuts the request in hand (set by Cancel() for it, or by Stop()).
    std::atomic<bool> m_cut{false};
    int m_inHand = -1; // index of the request in hand, -1 none (under m_queueMutex)
    std::atomic<int> m_deviceReleaseMs{1000};
    QElapsedTimer m_lastSound; // when the last spoken text ended (worker thread only)
};
