#include "MusicFigures.h"

#include "speech/AudioOutput.h"
#include "music/MusicPlayer.h"
#include "music/PlayList.h"
#include "speech/Announcer.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "speech/WavFile.h"
#include "shop/ShopSettings.h"
#include "core/SettingsValues.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <atomic>
#include <cmath>
#include <ctime>

namespace {

constexpr int kIdleSeconds = 10;
constexpr qint64 kBytesPerMs = 44100 * 4 / 1000;
constexpr int kWindowMs = 5;

// A loud sine track long enough for every figure; empty without FFmpeg.
QString MakeTrack(const QString &dir)
{
    const QString path = dir + QStringLiteral("/bench-music.mp3");
    if (!QFile::exists(path))
        QProcess::execute(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                     "sine=frequency=440:duration=60", "-af", "volume=6", "-c:a",
                                                     "libmp3lame", "-b:a", "128k", path});
    return QFile::exists(path) ? path : QString();
}

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

int Peak(const QByteArray &bytes)
{
    const auto *s = reinterpret_cast<const qint16 *>(bytes.constData());
    int peak = 0;
    for (int i = 0; i < bytes.size() / 2; ++i)
        peak = qMax(peak, std::abs(int(s[i])));
    return peak;
}

void WaitProcessingEvents(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace

double MusicFigures::MusicIdleCpuPercent(const QString &workDir)
{
    const QString track = MakeTrack(workDir);
    if (track.isEmpty())
        return NAN;
    MusicPlayer player;
    if (!player.OpenFile(track))
        return NAN;
    player.SetVolume(50);
    player.Play();
    WaitProcessingEvents(500);
    const double cpuBefore = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(kIdleSeconds);
    const double cpu = CpuSeconds() - cpuBefore;
    return 100.0 * cpu / (wall.elapsed() / 1000.0);
}

MusicFigures::Duck MusicFigures::DuckTimes(const QString &workDir)
{
    Duck figures;
    const QString track = MakeTrack(workDir);
    const QString silent = QStringLiteral("静音的一秒");
    QFile cached(SpeechCache::PathFor(silent));
    if (track.isEmpty() || !cached.open(QIODevice::WriteOnly)
        || cached.write(WavFile::Header(WavFile::kByteRate) + QByteArray(WavFile::kByteRate, '\0')) < 0)
        return figures;
    cached.close();
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
    AudioOutput::Shutdown();
    const QString heard = workDir + QStringLiteral("/duck.raw");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", heard.toLocal8Bit());
    const QStringList savedList = g_settings.musicList;
    const int savedStart = g_settings.musicStartType, savedSmall = g_settings.smallWhenPlaying;
    g_settings.musicList = {track};
    g_settings.musicStartType = 1;
    g_settings.smallWhenPlaying = 1;
    g_settings.musicVol = 50;
    g_settings.volume = 10;
    g_settings.chime = QString();
    {
        Speake worker;
        worker.SetDeviceReleaseMs(-1);
        Announcer announcer(&worker);
        PlayList music;
        QObject::connect(&announcer, &Announcer::DuckMusic, &music, &PlayList::TurnDown);
        // Stamped on the worker's thread, the moment the sound starts and ends.
        std::atomic<qint64> soundStart{-1}, soundEnd{-1};
        QElapsedTimer clock;
        clock.start();
        QObject::connect(&worker, &Speake::SoundStarted, &worker, [&](int) { soundStart = clock.nsecsElapsed(); }, Qt::DirectConnection);
        QObject::connect(&worker, &Speake::SoundEnded, &worker, [&](int) { soundEnd = clock.nsecsElapsed(); }, Qt::DirectConnection);
        worker.start();
        music.StartAtStartup();
        WaitProcessingEvents(1500); // the music rises over its glide
        QFile out(heard);
        out.open(QIODevice::ReadOnly);
        out.seek(qMax<qint64>(0, out.size() - 200 * kBytesPerMs) & ~3);
        const int normal = Peak(out.read(1 << 20));
        announcer.From(Announcer::Remote)->Request(1, 0, silent, false);
        QByteArray pending;
        qint64 fellAt = -1, backAt = -1;
        while (clock.elapsed() < 20000 && backAt < 0 && normal > 0) {
            pending += out.read(1 << 20);
            const qint64 now = clock.nsecsElapsed();
            while (pending.size() >= kWindowMs * kBytesPerMs) {
                const int peak = Peak(pending.left(kWindowMs * kBytesPerMs));
                pending.remove(0, kWindowMs * kBytesPerMs);
                // The first window of the fall, then the first back at the normal level.
                if (fellAt < 0 && soundStart >= 0 && peak < normal * 9 / 10)
                    fellAt = now;
                else if (fellAt >= 0 && backAt < 0 && soundEnd >= 0 && peak >= normal * 9 / 10)
                    backAt = now;
            }
            QCoreApplication::processEvents();
            QThread::usleep(200);
        }
        if (fellAt >= 0)
            figures.duckLatencyMs = (fellAt - soundStart) / 1e6;
        if (backAt >= 0)
            figures.restoreAfterQuietMs = (backAt - soundEnd) / 1e6;
        worker.Stop();
        worker.wait();
    }
    g_settings.musicList = savedList;
    g_settings.musicStartType = savedStart;
    g_settings.smallWhenPlaying = savedSmall;
    AudioOutput::Shutdown();
    qputenv("SDL_AUDIODRIVER", driver);
    return figures;
}

double MusicFigures::SettingsSaveMs(const QString &workDir)
{
    ShopSettings::UseFilePath(workDir + QStringLiteral("/settings.xml"));
    for (int i = 0; i < 100; ++i)
        g_settings.musicList.append(QStringLiteral("/home/shop/音乐/第%1首.mp3").arg(i));
    double ms = NAN;
    {
        ShopSettings settings;
        QElapsedTimer clock;
        clock.start();
        if (settings.Store())
            ms = clock.nsecsElapsed() / 1e6;
    }
    g_settings.musicList.clear();
    ShopSettings::UseFilePath(QString());
    return ms;
}
