#pragma once

#include "shop/PriceList.h"

#include <QWidget>

#include <memory>

class QTableWidgetItem;
class SaveTimer;
class StoredFile;
namespace Ui {
class PriceModeClass;
}

// Price mode: a table of goods (name, price, unit), free text rows and
// waits, each row read as one sentence (西瓜 1.98 一斤 → 西瓜1块9毛8一斤)
// through the speech worker, once or in a loop. Timer mode can take
// control of it: it then loops until timer mode stops it. The rows are
// held as data (PriceList); the table is their view.
class PriceMode : public QWidget
{
    Q_OBJECT

public:
    enum PlayState { Stopped = 0, Playing = 1, Paused = 2 };
    enum Column { ColumnCheck = 0, ColumnName = 1, ColumnPrice = 2, ColumnUnit = 3 };

    explicit PriceMode(int firstRequestIndex, QWidget *parent = nullptr);
    ~PriceMode() override;

    // "1.98" → "1块9毛8", "2" → "两块", "3.05" → "3块零5分", "0" → "".
    static QString PriceToSpeech(const QString &price);
    static QString FilePath();

    void LoadFile(const QString &path);
    void PauseUnderTimerMode();
    void AddPriceRow(const QString &name, const QString &price, const QString &unit);
    void AddTextRow(const QString &text);
    // The price of a row, committing an open price editor first.
    QString GetPrice(int row);
    // The unit of a row, committing an open unit editor first.
    QString GetUnit(int row);
    int PlayState() const { return m_playState; }
    const PriceList &List() const { return m_list; }
    // Replaces every row at once (saved at once); the row being read goes
    // on where it still is.
    void ReplaceList(PriceList list);
    bool SaveFailed() const;

signals:
    void OutAudio(int index, int type, QString content, bool needFinisheReport);
    void DelRecord(int index);
    void StartPlay();
    // Cut this mode's queued and current speech (a pause).
    void CancelSpeech();
    // The list is playing (true), or paused, stopped or emptied.
    void Active(bool playing);

public slots:
    bool Play();
    bool Pause();
    void DelItem();
    void DelAll();
    void InsertRow();
    void InsertTextRow();
    void InsertWait();
    void ProcessTableDoubleClick(int row, int col);
    void ProcessTableCellChanged(int curR, int curC, int preR, int preC);
    void ActionFinished(int index);
    void SaveFile();
    void PriceEnter();
    void StartTimerModeControl();
    void StopTimerModeControl();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool IsTextRow(int row) const;
    void ShowRow(int row);
    void ShowAllRows();
    // Inserts a row into the list and the table; its row.
    int AddRow(int row, const PriceRow &data);
    void RemoveRow(int row);
    // An item edited in place: its text goes to the row's data.
    void CellEdited(QTableWidgetItem *item);
    // The sentence a row is read as; false (with a log line) when the row cannot be read.
    bool AnnouncementText(int row, QString *text);
    void SelectRow(int row);
    // Tries the rows from start on, each once, skipping unticked ones.
    // The report of a row: stop, stay paused or go on to the next ticked row.
    void NextAfterReport(int index);
    void AdvanceFrom(int start);
    void StopAfterRow();

    std::unique_ptr<Ui::PriceModeClass> ui;
    PriceList m_list;
    quint64 m_sentRowId = 0; // the row whose request is out
    int m_requestIndex;
    int m_playState = Stopped;
    bool m_readyForNext = true;
    bool m_underTimerMode = false;
    bool m_needBreak = false;
    SaveTimer *m_saveTimer;
    int m_lastTableWidth = 0;
    std::unique_ptr<StoredFile> m_file;
};
