#pragma once

#include "SpeechRequest.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>

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

signals:
    void ActionFinished(int index);
    // Before ActionFinished of a text: whether it was really played (false
    // when no sound could be made of it).
    void Spoken(int index, bool heard);

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
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int> m_deviceReleaseMs{1000};
    QElapsedTimer m_lastSound; // when the last spoken text ended (worker thread only)
};
