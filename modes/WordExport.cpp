#include "modes/WordExport.h"

#include "core/AppPaths.h"
#include "core/Log.h"
#include "modes/ExportJob.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "speech/SpeechCache.h"
#include "speech/WavFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>

namespace {

const QString kErrorTitle = QStringLiteral("错误提示");

// The cache file of a row: the WAV of the text word mode sends for it.
QString RowCacheFile(const QString &text)
{
    return SpeechCache::PathFor(text.trimmed() + QStringLiteral(", ."));
}

QString CacheDir()
{
    return QDir(AppPaths::SpeechCacheDir()).absolutePath();
}

qint64 WavDurationMs(const QString &path)
{
    WavFile::Info info;
    return WavFile::ReadInfo(path, &info) ? info.DurationMs() : 0;
}

} // namespace

WordExport::WordExport(QWidget *dialogParent, FileChooser chooser, QStringList musicList, int musicVolume)
    : m_dialogParent(dialogParent), m_chooser(std::move(chooser)), m_musicList(std::move(musicList)),
      m_musicVolume(musicVolume)
{
}

void WordExport::Run(const QStringList &rowTexts)
{
    if (rowTexts.size() == 1)
        ExportOne(rowTexts.first());
    else if (!rowTexts.isEmpty())
        ExportMany(rowTexts);
}

bool WordExport::WriteSleepWav(const QString &path, qint64 ms)
{
    if (ms > kMaxSleepMs) {
        PLOG(LOG_WARNING, "a wait of %lld ms is cut to %lld ms, the most one WAV file holds", ms, kMaxSleepMs);
        ms = kMaxSleepMs;
    }
    const qint64 dataBytes = qMax<qint64>(0, ms) * 32;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        PLOG(LOG_ERROR, "open file(%s) for write failed", qPrintable(path));
        return false;
    }
    bool written = file.write(WavFile::Header(quint32(dataBytes))) == WavFile::kHeaderSize;
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = dataBytes; written && left > 0; left -= zeros.size())
        written = file.write(zeros.constData(), qMin<qint64>(left, zeros.size())) == qMin<qint64>(left, zeros.size());
    if (!written || !file.commit()) {
        file.cancelWriting();
        PLOG(LOG_ERROR, "open file(%s) for write failed", qPrintable(path));
        return false;
    }
    return true;
}

QString WordExport::ChooseFile(const QString &text)
{
    const QString name = text.trimmed().left(10).simplified();
    const QString proposed =
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation) + QLatin1Char('/') + name;
    // The dialog asks about replacing the name it was given; when ".mp3" is
    // added here, the question is asked again about the file really written.
    const QString chosen = m_chooser ? m_chooser(proposed)
                                     : QFileDialog::getSaveFileName(m_dialogParent, QStringLiteral("保存到文件"),
                                                                    proposed, QStringLiteral("audio (*.mp3)"));
    const QString target = FinalName(chosen);
    if (target != chosen && QFileInfo::exists(target)
        && !ConfirmWarning(QStringLiteral("“%1”已存在。\n要替换它吗？").arg(QFileInfo(target).fileName())))
        return {};
    return target;
}

QString WordExport::FinalName(const QString &chosen)
{
    if (chosen.isEmpty() || chosen.endsWith(QStringLiteral(".mp3"), Qt::CaseInsensitive))
        return chosen;
    return chosen + QStringLiteral(".mp3");
}

void WordExport::ExportOne(const QString &text)
{
    const QString target = ChooseFile(text);
    if (target.isEmpty())
        return;
    const QString input = RowCacheFile(text);
    const SpeechCache::InUse exporting({input}); // the cache keeps it until FFmpeg is done
    if (!QFile::exists(input)) {
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("文件不存在，请先播放当前行以产生音频文件！"));
        return;
    }
    FinalConversion(input, target);
}

void WordExport::ExportMany(const QStringList &items)
{
    qDebug("select items: %d", int(items.size()));
    const QString target = ChooseFile(items.first());
    if (target.isEmpty())
        return;
    const QString dir = CacheDir();
    const QString concatWav = dir + QStringLiteral("/concat.wav");
    const QString interval = dir + QStringLiteral("/interval.wav");
    // The cache keeps every file of the export until FFmpeg is done.
    QStringList used = {concatWav, interval, dir + QStringLiteral("/concat.txt")};
    for (const QString &item : items)
        used << RowCacheFile(item);
    const SpeechCache::InUse exporting(used);
    qDebug("concat: %s", qPrintable(concatWav));
    QFile::remove(concatWav);
    QDir().mkpath(dir);
    QFile list(dir + QStringLiteral("/concat.txt"));
    if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        PLOG(LOG_DEBUG, "%s", "creat concat txt file failed");
        return;
    }
    const QByteArray gap = "file 'interval.wav'\r\n";
    auto ensureInterval = [&interval] {
        if (!QFile::exists(interval))
            WriteSleepWav(interval, 1000);
    };
    int missing = 0;
    for (int i = 0; i < items.size() && missing == 0; ++i) {
        const QString file = RowCacheFile(items[i]);
        int waitMs = 0;
        if (!QFile::exists(file)) {
            if (!ParseWaitText(items[i].trimmed(), &waitMs)) {
                missing = i + 1;
                break;
            }
            qDebug("write sleep file, sleep = %d", waitMs);
            WriteSleepWav(file, waitMs);
        }
        ensureInterval();
        list.write(gap);
        list.write("file '" + QFileInfo(file).completeBaseName().toLocal8Bit() + ".wav'\r\n");
    }
    if (missing == 0) {
        ensureInterval();
        for (int i = 0; i < 5; ++i)
            list.write(gap);
    }
    list.close();
    if (missing > 0) {
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("选中的第") + QString::number(missing)
                                                  + QStringLiteral("项文件不存在，请先播放一遍再导出！"));
        return;
    }
    if (ExportJob::FfmpegPath().isEmpty()) {
        FinalConversion(concatWav, target); // tells what to install
        return;
    }
    qint64 totalMs = 0;
    for (const QString &item : items)
        totalMs += WavDurationMs(RowCacheFile(item)) + 1000;
    ExportJob join(m_dialogParent);
    const QStringList args = {QStringLiteral("-f"), QStringLiteral("concat"), QStringLiteral("-i"),
                              list.fileName(),      QStringLiteral("-c"),     QStringLiteral("copy"),
                              concatWav,            QStringLiteral("-y")};
    qDebug("concat cmd: %s", qPrintable(args.join(QLatin1Char(' '))));
    switch (join.Run(args, dir, concatWav, totalMs + 4000)) {
    case ExportJob::Result::Done:
        FinalConversion(concatWav, target);
        return;
    case ExportJob::Result::Cancelled:
        PLOG(LOG_INFO, "%s", "export cancelled");
        return;
    case ExportJob::Result::Failed:
        PLOG(LOG_ERROR, "joining failed: %s", qPrintable(join.ErrorTail()));
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("导出文件失败,可能是没有操作权限！"));
        return;
    }
}

// FFmpeg decodes the start of its first audio stream: a file that exists
// but is damaged, empty or not audio is found out before the export.
bool WordExport::TrackDecodes(const QString &track)
{
    if (!QFileInfo(track).isFile())
        return false;
    QProcess probe;
    probe.start(ExportJob::FfmpegPath(), {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                                          QStringLiteral("-xerror"), QStringLiteral("-i"), track,
                                          QStringLiteral("-map"), QStringLiteral("0:a:0"), QStringLiteral("-t"),
                                          QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("null"),
                                          QStringLiteral("-")});
    if (!probe.waitForFinished(kProbeTimeoutMs)) {
        probe.kill();
        probe.waitForFinished();
        return false;
    }
    return probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

QString WordExport::FirstReadableTrack(const QStringList &tracks, QStringList *skipped)
{
    for (const QString &track : tracks) {
        if (TrackDecodes(track))
            return track;
        PLOG(LOG_WARNING, "export: music file %s cannot be read: skipped", qPrintable(track));
        if (skipped)
            skipped->append(track);
    }
    return {};
}

void WordExport::FinalConversion(const QString &input, const QString &target)
{
    if (ExportJob::FfmpegPath().isEmpty()) {
        PLOG(LOG_ERROR, "%s", "no ffmpeg beside the program or on PATH");
        MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("未找到FFmpeg，无法导出。请安装FFmpeg（Debian：sudo apt-get "
                                                             "install ffmpeg），或把ffmpeg放在本程序所在的文件夹中。"));
        return;
    }
    // Written beside the target and renamed over it only when whole, so a
    // failed or cancelled export never destroys a file of that name.
    const QFileInfo chosen(target);
    const QString temporary = chosen.absolutePath() + QStringLiteral("/.") + chosen.fileName()
                              + QStringLiteral(".exporting-%1.mp3").arg(QCoreApplication::applicationPid());
    QStringList args = {QStringLiteral("-i"), input};
    qint64 expectedMs = WavDurationMs(input);
    // The first track of the play list that can be read lies under the
    // speech; the operator is told when tracks were passed over.
    QStringList skipped;
    const QString music = FirstReadableTrack(m_musicList, &skipped);
    QString musicNote;
    if (!skipped.isEmpty())
        musicNote = music.isEmpty() ? QStringLiteral("\n背景音乐文件都无法读取，导出的文件没有背景音乐：\n%1")
                                          .arg(skipped.join(QLatin1Char('\n')))
                                    : QStringLiteral("\n背景音乐文件无法读取，已跳过：\n%1\n已改用：%2")
                                          .arg(skipped.join(QLatin1Char('\n')), music);
    if (!music.isEmpty()) {
        PLOG(LOG_DEBUG, "bgMusic: %s", qPrintable(music));
        const QString graph = QStringLiteral("[0:a]aformat=sample_fmts=fltp:channel_layouts=stereo,volume=1.0,"
                                             "adelay=6000|6000[a0];[1:a]aformat=sample_fmts=fltp:channel_layouts="
                                             "stereo,volume=")
                              + QString::number(m_musicVolume / 150.0, 'g', 6)
                              + QStringLiteral(",adelay=100|100[a1];[a0][a1]amix=inputs=2:duration=first[aout]");
        args += {QStringLiteral("-i"), music, QStringLiteral("-filter_complex"), graph, QStringLiteral("-map"),
                 QStringLiteral("[aout]"), QStringLiteral("-ac"), QStringLiteral("2")};
        expectedMs += 6000;
    }
    args += {temporary, QStringLiteral("-y")};
    PLOG(LOG_DEBUG, "cmdline = %s", qPrintable(args.join(QLatin1Char(' '))));
    ExportJob convert(m_dialogParent);
    const ExportJob::Result result = convert.Run(args, CacheDir(), temporary, expectedMs);
    if (result == ExportJob::Result::Cancelled) {
        PLOG(LOG_INFO, "%s", "export cancelled");
        return;
    }
    if (result == ExportJob::Result::Done
        && ::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) == 0) {
        MyMessageBox::ShowNotice(QStringLiteral("提示"), QStringLiteral("导出文件成功！") + musicNote);
        return;
    }
    QFile::remove(temporary);
    PLOG(LOG_ERROR, "export to %s failed: %s", qPrintable(target), qPrintable(convert.ErrorTail()));
    MyMessageBox::ShowNotice(kErrorTitle, QStringLiteral("导出文件失败,可能是没有操作权限！"));
}

