#include "speech/Speake.h"

#include "core/AppPaths.h"
#include "speech/AudioOutput.h"
#include "speech/Chime.h"
#include "core/Log.h"
#include "core/SettingsValues.h"
#include "speech/SpeechCache.h"
#include "speech/SpeechEngines.h"
#include "speech/TTS.h"
#include "speech/WavFile.h"
#include "speech/WavPlayer.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

Speake::Speake(QObject *parent) : QThread(parent) {}

Speake::~Speake()
{
    Stop();
    wait();
}

void Speake::Stop()
{
    QMutexLocker lock(&m_queueMutex);
    m_running = false;
    m_cut = true;
    m_queued.wakeAll();
}

void Speake::SpeakAudio(int index, int type, QString content, bool needFinisheReport)
{
    Queue(index, type, content, needFinisheReport, SpeechRequest::InTurn);
}

void Speake::Queue(int index, int type, const QString &content, bool needFinisheReport, int rank)
{
    QMutexLocker lock(&m_queueMutex);
    auto at = m_queue.end();
    if (rank == SpeechRequest::Timed)
        at = std::find_if(m_queue.begin(), m_queue.end(),
                          [](const SpeechRequest &r) { return r.rank == SpeechRequest::Remote; });
    m_queue.insert(at, SpeechRequest{index, type, content, needFinisheReport, false, rank});
    m_queued.wakeOne();
}

int Speake::QueueLength()
{
    QMutexLocker lock(&m_queueMutex);
    return int(m_queue.size());
}

void Speake::DeleteRecord(int index)
{
    QMutexLocker lock(&m_queueMutex);
    const auto found = std::find_if(m_queue.begin(), m_queue.end(), [index](const SpeechRequest &r) {
        return r.index == index && !r.dropped;
    });
    if (found == m_queue.end())
        return;
    if (found->needFinisheReport)
        found->dropped = true;
    else
        m_queue.erase(found);
}

void Speake::Cancel(const std::function<bool(int index)> &matches)
{
    QMutexLocker lock(&m_queueMutex);
    for (auto it = m_queue.begin(); it != m_queue.end();) {
        if (!matches(it->index) || it->dropped) {
            ++it;
        } else if (it->needFinisheReport) {
            it->dropped = true;
            ++it;
        } else {
            it = m_queue.erase(it);
        }
    }
    if (m_inHand >= 0 && matches(m_inHand)) {
        m_cut = true;
        WavPlayer::HaltNow();
    }
}

bool Speake::TakeNext(SpeechRequest *request)
{
    QMutexLocker lock(&m_queueMutex);
    bool deviceReleased = m_deviceReleaseMs < 0;
    while (m_queue.empty() && m_running) {
        if (deviceReleased) {
            m_queued.wait(&m_queueMutex);
        } else if (!m_queued.wait(&m_queueMutex, QDeadlineTimer(m_deviceReleaseMs.load()))) {
            lock.unlock();
            AudioOutput::CloseIfIdle();
            lock.relock();
            deviceReleased = true;
        }
    }
    if (m_queue.empty())
        return false;
    *request = std::move(m_queue.front());
    m_queue.pop_front();
    // A cut belongs to the request it was made for; Stop() keeps it set.
    m_inHand = request->index;
    m_cut = !m_running;
    return true;
}

namespace {

qint64 CacheLimitBytes()
{
    return qint64(g_settings.speechCacheMb.load()) * 1024 * 1024;
}

} // namespace

void Speake::run()
{
    TTS::Init();
    PLOG(LOG_DEBUG, "%s", "Init");
    if (AppPaths::EnsureSpeechCacheDir())
        SpeechCache::TrimToSize(AppPaths::SpeechCacheDir(), CacheLimitBytes());
    else
        PLOG(LOG_ERROR, "create dir(%s) failed", qPrintable(AppPaths::SpeechCacheDir()));
    AudioOutput::Open();

    SpeechRequest request;
    while (m_running) {
        if (TakeNext(&request))
            Process(request);
        QMutexLocker lock(&m_queueMutex);
        m_inHand = -1;
    }
}

void Speake::Process(const SpeechRequest &request)
{
    PLOG(LOG_DEBUG, "index = %x, type = %d, content = %s", request.index, request.type,
         request.content.toLocal8Bit().constData());
    if (request.dropped) {
        emit ActionFinished(request.index);
        return;
    }
    switch (request.type) {
    case SpeechRequest::Wait:
        Wait(request);
        break;
    case SpeechRequest::Speak:
        Speak(request);
        break;
    default:
        break; // unknown types are logged and dropped without a report
    }
}

void Speake::Wait(const SpeechRequest &request)
{
    // A negative or unreadable length counts as 0.
    const qint64 ms = qMax(0LL, request.content.trimmed().toLongLong());
    WavPlayer::WaitUnlessInterrupted(ms, &m_cut);
    if (request.needFinisheReport)
        emit ActionFinished(request.index);
}

namespace {

// A cached file that can really be played: a WAV with a format and sound.
// A damaged one (cut short, overwritten) is synthesized again.
bool Playable(const QString &path)
{
    WavFile::Info info;
    return WavFile::ReadInfo(path, &info) && info.byteRate > 0 && info.dataSize > 0 && info.channels > 0
           && info.bitsPerSample == 16;
}

} // namespace

void Speake::Speak(const SpeechRequest &request)
{
    const QString path = SpeechCache::PathFor(request.content);
    PLOG(LOG_DEBUG, "file: %s", path.toLocal8Bit().constData());
    const SpeechCache::InUse playing({path}); // not evicted while made and played
    if (Playable(path)) {
        SpeechCache::Touch(path); // used now: evicted after the texts not heard since
    } else {
        if (QFile::exists(path)) {
            PLOG(LOG_WARNING, "cached speech %s cannot be played: synthesized again", qPrintable(path));
            QFile::remove(path);
        }
        // The folder may have been deleted or emptied while running.
        if (!AppPaths::EnsureSpeechCacheDir())
            PLOG(LOG_ERROR, "cannot create the speech cache folder %s", qPrintable(AppPaths::SpeechCacheDir()));
        // A failed synthesis leaves nothing in the cache under this text.
        if (!SpeechEngines::SynthesizeToFile(request.content, path, &m_cut))
            QFile::remove(path);
        else
            SpeechCache::Added(AppPaths::SpeechCacheDir(), QFileInfo(path).size(), CacheLimitBytes());
    }
    const bool heard = !m_cut && Playable(path);
    if (!heard)
        PLOG(LOG_ERROR, "nothing to play for index %x: the text was not spoken", request.index);
    // After a quiet stretch the chime comes first; a looping list, with
    // its rows close together, does not chime before every row.
    if (heard) {
        emit SoundStarted(request.index);
        if (!m_lastSound.isValid() || m_lastSound.elapsed() >= Chime::kQuietMs)
            Chime::Play(g_settings.chime.Get(), &m_cut);
        // The sound has ended for the listener with its last audible sample:
        // the file's trailing quiet and the tail are still waited out.
        WavPlayer::PlayWav(path, &m_cut, WavPlayer::kTailMs, [this, &request] { emit SoundEnded(request.index); });
    }
    m_lastSound.start();
    emit Spoken(request.index, heard);
    if (request.needFinisheReport)
        emit ActionFinished(request.index);
}
