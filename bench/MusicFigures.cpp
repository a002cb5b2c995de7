#include "MusicFigures.h"

#include "speech/AudioOutput.h"
#include "music/MusicPlayer.h"
#include "settings/Settings.h"
#include "core/SettingsValues.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

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

double MusicFigures::DuckLatencyMs(const QString &workDir)
{
    const QString track = MakeTrack(workDir);
    if (track.isEmpty())
        return NAN;
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER");
    AudioOutput::Shutdown();
    const QString heard = workDir + QStringLiteral("/duck.raw");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", heard.toLocal8Bit());
    double latency = NAN;
    {
        MusicPlayer player;
        if (player.OpenFile(track)) {
            player.SetVolume(50);
            player.Play();
            WaitProcessingEvents(1000); // the player's level glides by timer
            QFile out(heard);
            out.open(QIODevice::ReadOnly);
            out.seek(qMax<qint64>(0, out.size() - 200 * kBytesPerMs) & ~3);
            const int normal = Peak(out.read(1 << 20));
            QElapsedTimer clock;
            clock.start();
            player.SetVolume(g_settings.volume / 2);
            QByteArray pending;
            while (clock.elapsed() < 2000 && std::isnan(latency)) {
                pending += out.read(1 << 20);
                while (pending.size() >= kWindowMs * kBytesPerMs) {
                    const QByteArray window = pending.left(kWindowMs * kBytesPerMs);
                    pending.remove(0, window.size());
                    // The level glides down over 300 ms: the figure is when the fall begins.
                    if (normal > 0 && Peak(window) < normal * 9 / 10) {
                        latency = clock.nsecsElapsed() / 1e6;
                        break;
                    }
                }
                QCoreApplication::processEvents();
                QThread::usleep(200);
            }
        }
    }
    AudioOutput::Shutdown();
    qputenv("SDL_AUDIODRIVER", driver);
    return latency;
}

double MusicFigures::SettingsSaveMs(const QString &workDir)
{
    Settings::UseFilePath(workDir + QStringLiteral("/settings.xml"));
    for (int i = 0; i < 100; ++i)
        g_settings.musicList.append(QStringLiteral("/home/shop/音乐/第%1首.mp3").arg(i));
    double ms = NAN;
    {
        Settings settings;
        QElapsedTimer clock;
        clock.start();
        if (settings.Store())
            ms = clock.nsecsElapsed() / 1e6;
    }
    g_settings.musicList.clear();
    Settings::UseFilePath(QString());
    return ms;
}
