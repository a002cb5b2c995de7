#pragma once

#include "modes/ListJson.h"

#include <QWidget>

#include <functional>
#include <memory>

class QListWidgetItem;
class SaveTimer;
class StoredFile;
namespace Ui {
class SimplePlayClass;
}

// Word mode: a list of texts and waits, read once or round and round
// through the speech worker; the worker's finish reports step the list.
class SimplePlay : public QWidget
{
    Q_OBJECT

public:
    enum PlayState { Stopped = 0, Playing = 1, Paused = 2 };

    explicit SimplePlay(int firstRecordIndex, QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~SimplePlay() override;

    // Replaces the list with the rows of a word-mode file.
    void LoadFile(const QString &path);
    void AddRecord(const QString &text);
    static QString FilePath();
    int PlayState() const { return m_playState; }
    // The rows as they stand, and all of them replaced at once (saved at
    // once; the row being played goes on where it still is).
    ListJson::WordList Words() const;
    void ReplaceWords(const ListJson::WordList &words);
    // The last save of the list failed: the changes are only in the window.
    bool SaveFailed() const;

    // Asks where to export (the save dialog by default); tests answer it.
    using FileChooser = std::function<QString(const QString &proposedPath)>;
    void SetExportFileChooser(FileChooser chooser) { m_chooseExportFile = std::move(chooser); }

signals:
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    void DelRecord(int index);
    void StartPlay();
    // Cut this mode's queued and current speech (a pause).
    void CancelSpeech();
    // The list is playing (true), or paused, stopped or emptied.
    void Active(bool playing);

public slots:
    void ProcessPlayButton();
    bool Pause();
    bool Play();
    void PlaySelect();
    void DelTmpPlay();
    void DelAll();
    void ExportToFile();
    void DblClickRecord(QListWidgetItem *current);
    void ActionFinished(int index);
    void InsertWait();
    void SaveFile();
    void TimerOut();

private:
    void SetupContextMenu();
    QListWidgetItem *MakeItem(const QString &text);
    void SendRow(QListWidgetItem *item);
    void PlayFromRow(int row);
    void RemoveRow(int row);

    std::unique_ptr<Ui::SimplePlayClass> ui;
    int m_recordIndex;
    int m_playState = Stopped;
    bool m_readyForNext = true;
    SaveTimer *m_saveTimer;
    std::unique_ptr<StoredFile> m_file;
    FileChooser m_chooseExportFile;
};
