#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class PhonePairing;
class ShopSettings;
namespace Ui {
class SettingsClass;
}

// The settings tab: voice, speech speed and volume, the music manager,
// backup and restore of the three lists, and cleaning of the speech cache:
// a form over the shop's settings.
class Settings : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kVoiceCount = 17;

    explicit Settings(ShopSettings *settings, QWidget *parent = nullptr);
    ~Settings() override;

    // The voice label of the voice table.
    static QString VoiceLabel(int index);
    // Empties the speech cache directory; the number of files listed.
    static int CleanCacheFiles();
    // Set when a restore asked for the program to start anew once it has closed.
    static bool RestartRequested();
    PhonePairing *Pairing() const { return m_pairing; }
    // Adds a row of buttons beside the music manager's (the window's chain
    // settings and play log).
    void AddSection(QWidget *section);

signals:
    // The form's values were applied and written.
    void Saved();

public slots:
    void Save();
    void ShowSpeed();
    void ShowVolume();
    void ShowMusicManager();
    void ProcessClean();
    void Backup();
    void Restore();
    QString SpeakerTransform(int index);
    int SpeakerTransform(const QString &voiceId);

private:
    // The pairing window's "改为店内网络": chosen, stored and applied.
    void ListenOnShopNetwork();
    // The refusal of a backup that is damaged or another list's.
    static QString RefusedBackupText(const QString &listName);
    void InitLists();
    // Asks for the chime file when "自选文件…" is chosen.
    void ChimeChosen(int index);
    void ShowToken();
    void ConfigToForm();

    std::unique_ptr<Ui::SettingsClass> ui;
    ShopSettings *m_settings;
    QString m_chimeFile; // the operator's chime, when one was chosen
    PhonePairing *m_pairing = nullptr;
};
