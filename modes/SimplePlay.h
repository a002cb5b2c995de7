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

    std::unique_ptr<Ui::SimplePlayClass> ui;
    WordListModel *m_list;
    WordPlayer *m_player;
    FileChooser m_chooseExportFile;
};
