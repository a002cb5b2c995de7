#pragma once

#include <QDialog>

#include <memory>

struct SettingsValues;

namespace Ui {
class MusicManager;
}

// Edits the background music settings: the play list and its order, the
// music volume, the play and start types and the turn-down option. The
// dialog is accepted through "保存并关闭" (SaveConfig()); its owner then
// takes the values (WriteTo()).
class MusicManager : public QDialog
{
    Q_OBJECT

public:
    explicit MusicManager(QWidget *parent = nullptr);
    ~MusicManager() override;

    // Appends files to the list (what AddMusic() does with the chosen files).
    void AppendMusic(const QStringList &paths);
    // The choices made in the dialog, for the settings to take.
    void WriteTo(SettingsValues *values) const;

public slots:
    void AddMusic();
    void DelMusic();
    void MusicUp();
    void MusicDown();
    void SaveConfig();

private:
    void MoveCurrent(int by);

    std::unique_ptr<Ui::MusicManager> ui;
};
