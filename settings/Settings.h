#pragma once

#include <QString>
#include <QWidget>

#include <memory>

class PhonePairing;
class StoredFile;
namespace Ui {
class SettingsClass;
}

// The settings tab: voice, speech speed and volume, the music manager,
// backup and restore of the three lists, and cleaning of the speech cache.
// Loads and stores g_settings in settings.xml.
class Settings : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kVoiceCount = 17;

    explicit Settings(QWidget *parent = nullptr);
    ~Settings() override;

    // settings.xml beside the executable; in the per-user configuration
    // folder when the executable's folder cannot be written.
    static QString FilePath();
    // The folder of settings.xml, where the remote interface's tokens are kept too.
    static QString Folder();
    // Points settings.xml elsewhere (tests); empty restores the rule above.
    static void UseFilePath(const QString &path);
    // The voice label of the voice table.
    static QString VoiceLabel(int index);
    // Empties the speech cache directory; the number of files listed.
    static int CleanCacheFiles();
    // Writes g_settings to settings.xml as it stands; false when that failed.
    bool Store();
    // Set when a restore asked for the program to start anew once it has closed.
    static bool RestartRequested();
    PhonePairing *Pairing() const { return m_pairing; }

signals:
    // settings.xml was written with the form's values.
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
    void Load();
    void ConfigToForm();

    std::unique_ptr<Ui::SettingsClass> ui;
    std::unique_ptr<StoredFile> m_file;
    QString m_chimeFile; // the operator's chime, when one was chosen
    PhonePairing *m_pairing = nullptr;
};
