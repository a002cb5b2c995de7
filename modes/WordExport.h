#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Exports word-mode rows to one MP3: a single row's cached speech, or the
// rows joined with a second of quiet between them (waits as silence), with
// the first readable track of the music list under the speech. Reports
// the outcome in a notice.
class WordExport
{
public:
    // Asks where to export (the save dialog by default); tests answer it.
    using FileChooser = std::function<QString(const QString &proposedPath)>;

    WordExport(QWidget *dialogParent, FileChooser chooser, QStringList musicList, int musicVolume);

    // rowTexts: the texts of the rows to export, in order.
    void Run(const QStringList &rowTexts);

    // Writes a WAV of ms milliseconds of silence in the speech cache's
    // format; false when the file cannot be written. One file holds at
    // most kMaxSleepMs; a longer wait is cut to it.
    static bool WriteSleepWav(const QString &path, qint64 ms);
    static constexpr qint64 kMaxSleepMs = 134217726;
    // The first track FFmpeg can decode, or "" when none can; the tracks
    // passed over are added to skipped.
    static QString FirstReadableTrack(const QStringList &tracks, QStringList *skipped);
    // The name the export is written to: ".mp3" added when missing.
    static QString FinalName(const QString &chosen);

private:
    static constexpr int kProbeTimeoutMs = 30000;
    static bool TrackDecodes(const QString &track);
    void ExportOne(const QString &text);
    void ExportMany(const QStringList &texts);
    // The output file for an export whose first row is text; empty on cancel.
    QString ChooseFile(const QString &text);
    // Converts the joined or single WAV to the chosen MP3 and reports.
    void FinalConversion(const QString &input, const QString &target);

    QWidget *m_dialogParent;
    FileChooser m_chooser;
    QStringList m_musicList;
    int m_musicVolume;
};
