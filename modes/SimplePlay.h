#pragma once

#include <QWidget>

#include <functional>
#include <memory>

class Shop;
class WordListModel;
class WordPlayer;
namespace Ui {
class SimplePlayClass;
}

// The word tab: a view and editor of the shop's word list and its loop.
// The input line is the window's own: what is typed there becomes a row
// only when staff press Return or 播放 here.
class SimplePlay : public QWidget
{
    Q_OBJECT

public:
    SimplePlay(Shop *shop, QWidget *parent = nullptr);
    ~SimplePlay() override;

    // Writes a WAV of ms milliseconds of silence in the speech cache's
    // format; false when the file cannot be written. One file holds at
    // most kMaxSleepMs; a longer wait is cut to it.
    static bool WriteSleepWav(const QString &path, qint64 ms);
    static constexpr qint64 kMaxSleepMs = 134217726;
    // Asks where to export (the save dialog by default); tests answer it.
    using FileChooser = std::function<QString(const QString &proposedPath)>;
    void SetExportFileChooser(FileChooser chooser) { m_chooseExportFile = std::move(chooser); }

public slots:
    // The input line's text becomes a row and the list plays.
    void ProcessPlayButton();
    void PlaySelect();
    void DelTmpPlay();
    void DelAll();
    void ExportToFile();
    void InsertWait();
    void SaveFile();

private:
    void SetupContextMenu();
    void EditRow(int row);
    void ShowState(int state);
    void ShowCursor(int row);
    QList<int> SelectedRows() const;
    void ExportOneItem(const QString &text);
    void ExportMultiItems(const QStringList &texts);
    // The output file for an export whose first row is text; empty on cancel.
    QString ChooseExportFile(const QString &text);
    // Converts the joined or single WAV to the chosen MP3 and reports.
    void FinalConversion(const QString &input, const QString &target);
    // The first track that exists and can be read, or "" when none can.
    static QString FirstReadableTrack(const QStringList &tracks);

    std::unique_ptr<Ui::SimplePlayClass> ui;
    WordListModel *m_list;
    WordPlayer *m_player;
    FileChooser m_chooseExportFile;
};
