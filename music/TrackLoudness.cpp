#include "music/TrackLoudness.h"

#include "core/AppPaths.h"
#include "modes/ExportJob.h"
#include "core/Log.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>

#include <cmath>

namespace {

QString CacheFile()
{
    return AppPaths::SpeechCacheDir() + QStringLiteral("music-loudness.txt");
}

// "size<TAB>modified ms<TAB>path" identifies a track's contents.
QString Key(const QString &path)
{
    const QFileInfo info(path);
    return QStringLiteral("%1\t%2\t%3").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch()).arg(path);
}

QHash<QString, double> &Known()
{
    static QHash<QString, double> known = [] {
        QHash<QString, double> read;
        QFile file(CacheFile());
        if (file.open(QIODevice::ReadOnly))
            for (const QByteArray &line : file.readAll().split('\n')) {
                const QList<QByteArray> fields = line.split('\t');
                if (fields.size() == 4)
                    read.insert(QString::fromUtf8(fields[1] + '\t' + fields[2] + '\t' + fields[3]), fields[0].toDouble());
            }
        return read;
    }();
    return known;
}

QSet<QString> &Measuring()
{
    static QSet<QString> measuring;
    return measuring;
}

void Remember(const QString &key, double lufs)
{
    Known().insert(key, lufs);
    QByteArray text;
    for (auto it = Known().cbegin(); it != Known().cend(); ++it)
        text += QByteArray::number(it.value(), 'f', 1) + '\t' + it.key().toUtf8() + '\n';
    QSaveFile file(CacheFile());
    if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size())
        file.commit();
}

QStringList Arguments(const QString &path)
{
    return {QStringLiteral("-nostdin"), QStringLiteral("-hide_banner"), QStringLiteral("-i"), path,
            QStringLiteral("-af"), QStringLiteral("ebur128"), QStringLiteral("-f"), QStringLiteral("null"),
            QStringLiteral("-")};
}

// The integrated loudness from the filter's summary ("I: -23.0 LUFS").
std::optional<double> ParseLufs(const QByteArray &output)
{
    static const QRegularExpression integrated(QStringLiteral("I:\\s+(-?[0-9.]+) LUFS"));
    QRegularExpressionMatch last;
    auto it = integrated.globalMatch(QString::fromLatin1(output));
    while (it.hasNext())
        last = it.next();
    if (!last.hasMatch())
        return std::nullopt;
    return last.captured(1).toDouble();
}

} // namespace

std::optional<double> TrackLoudness::GainDb(const QString &path)
{
    const auto found = Known().constFind(Key(path));
    if (found == Known().cend())
        return std::nullopt;
    return qBound(kMinGainDb, kTargetLufs - found.value(), kMaxGainDb);
}

void TrackLoudness::MeasureLater(const QString &path)
{
    const QString key = Key(path);
    const QString ffmpeg = ExportJob::FfmpegPath();
    if (Known().contains(key) || Measuring().contains(key) || ffmpeg.isEmpty())
        return;
    Measuring().insert(key);
    auto *process = new QProcess; // deletes itself when done
    process->setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(process, &QProcess::finished, process, [process, key, path] {
        Measuring().remove(key);
        if (const std::optional<double> lufs = ParseLufs(process->readAll()))
            Remember(key, *lufs);
        else
            PLOG(LOG_WARNING, "loudness of %s could not be measured", qPrintable(path));
        process->deleteLater();
    });
    process->start(ffmpeg, Arguments(path));
}

bool TrackLoudness::MeasureNow(const QString &path)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(ExportJob::FfmpegPath(), Arguments(path));
    if (!process.waitForFinished(120000))
        return false;
    const std::optional<double> lufs = ParseLufs(process.readAll());
    if (lufs)
        Remember(Key(path), *lufs);
    return lufs.has_value();
}

int TrackLoudness::Apply(int volume, double gainDb)
{
    return qBound(0, int(std::lround(volume * std::pow(10.0, gainDb / 20.0))), 100);
}
