#pragma once

#include "core/SettingsValues.h"
#include "shop/ChainConfig.h"

#include <QObject>

#include <functional>
#include <memory>

class StoredFile;

// The operator's choices as the shop keeps them: read from settings.xml
// at start, changed only through Update() (the settings tab, the music
// manager, the remote interface), which writes the file and tells who
// follows them. The floors below read the published values (g_settings).
class ShopSettings : public QObject
{
    Q_OBJECT

public:
    explicit ShopSettings(QObject *parent = nullptr);
    ~ShopSettings() override;

    // settings.xml beside the executable; in the per-user configuration
    // folder when the executable's folder cannot be written.
    static QString FilePath();
    // The folder of settings.xml, where the remote interface's tokens are kept too.
    static QString Folder();
    // Points settings.xml elsewhere (tests); empty restores the rule above.
    static void UseFilePath(const QString &path);

    const SettingsValues &Values() const { return g_settings; }
    // The chain link's settings (off unless a broker and a shop id are set),
    // its password read from its own owner-only file.
    const ChainConfig &Chain() const { return m_chain; }
    // Reads settings.xml (values out of range are clamped and logged).
    void Load();
    // Applies a change and writes settings.xml; false when it could not be
    // written (the change still holds for this run).
    bool Update(const std::function<void(SettingsValues &)> &change);
    // Applies new chain settings (the password, when given, to its own
    // file) and writes settings.xml; false when it could not be written.
    bool UpdateChain(const ChainConfig &chain, const QByteArray *newPassword = nullptr);
    // Writes the values as they stand.
    bool Store();

signals:
    void Changed();

private:
    std::unique_ptr<StoredFile> m_file;
    ChainConfig m_chain;
};
