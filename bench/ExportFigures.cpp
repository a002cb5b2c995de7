#include "ExportFigures.h"

#include "core/AppPaths.h"
#include "modes/ModeHelpers.h"
#include "core/SettingsValues.h"
#include "modes/SimplePlay.h"
#include "shop/Shop.h"
#include "shop/WordListModel.h"
#include "speech/SpeechCache.h"
#include "speech/TTS.h"
#include "speech/WavFile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>

namespace {

const char *const kRows[] = {
    "欢迎光临，本店今天全场商品九折优惠。", "延时3秒", "西瓜1块9毛8一斤，新鲜又甜，欢迎选购。",
    "延时2秒", "苹果3块5一斤，买两斤送半斤。", "延时3秒", "本店营业时间为早上8点到晚上10点。",
    "延时2秒", "请看管好您的随身物品，谨防丢失。", "延时5秒",
};

} // namespace

ExportFigures::Export ExportFigures::TenRows(const QString &workDir, bool withMusic)
{
    QByteArray xml = "<records>";
    for (const char *row : kRows) {
        xml += QByteArray("<record>") + row + "</record>";
        const QString spoken = QString::fromUtf8(row) + QStringLiteral(", .");
        int ms = 0;
        if (!ParseWaitText(QString::fromUtf8(row), &ms) && !QFile::exists(SpeechCache::PathFor(spoken)))
            TTS::TextToSpeech(spoken.toLocal8Bit().constData(), "xiaoyan",
                              SpeechCache::PathFor(spoken).toLocal8Bit().constData());
    }
    QFile file(WordListModel::FilePath());
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    file.write(xml + "</records>");
    file.close();

    const QString music = workDir + QStringLiteral("/export-music.mp3");
    if (withMusic && !QFile::exists(music))
        QProcess::execute(QStringLiteral("ffmpeg"), {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                     "sine=frequency=300:duration=120", "-c:a", "libmp3lame", music});
    const QStringList oldList = g_settings.musicList;
    g_settings.musicList = withMusic ? QStringList{music} : QStringList();
    Export figures;
    {
        Shop shop;
        SimplePlay mode(&shop);
        const QString target = workDir + QStringLiteral("/export.mp3");
        mode.SetExportFileChooser([&target](const QString &) { return target; });
        auto *list = mode.findChild<QListView *>("listView_Record");
        list->selectAll();
        QElapsedTimer clock;
        clock.start();
        mode.ExportToFile();
        figures.ms = clock.nsecsElapsed() / 1e6;
        // A gap before each row, five after the last, six seconds of music ahead.
        qint64 audioMs = 5000 + (withMusic ? 6000 : 0);
        for (const char *row : kRows) {
            WavFile::Info info;
            if (WavFile::ReadInfo(SpeechCache::PathFor(QString::fromUtf8(row) + QStringLiteral(", .")), &info))
                audioMs += 1000 + info.DurationMs();
        }
        if (QFile::exists(target))
            figures.ratio = figures.ms / double(audioMs);
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w != &mode)
                w->close(); // the result notice
        g_restorePending = true;
    }
    g_restorePending = false;
    g_settings.musicList = oldList;
    return figures;
}
