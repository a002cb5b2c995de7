#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class MusicManager;
}

// Edits the background music settings: the play list and its order, the
// music volume, the play and start types and the turn-down option. The
// values go into g_settings only through "保存并关闭" (SaveConfig()).
class MusicManager : public QDialog
{
    Q_OBJECT

public:
    explicit MusicManager(QWidget *parent = nullptr);
    ~MusicManager() override;

    // Appends files to the list (what AddMusic() does with the chosen files).
    void AppendMusic(const QStringList &paths);

public slots:
    void AddMusic();
    void DelMusic();
    void MusicUp();
    void MusicDown();
    void SaveConfig();

private:
    void MoveCurrent(int by);
    void AddTracks(const QStringList &paths);

    std::unique_ptr<Ui::MusicManager> ui;
};
