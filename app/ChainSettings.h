#pragma once

#include <QDialog>

class ChainLink;
class QLabel;
class QLineEdit;
class Shop;

// "连锁总部", opened from the settings tab: where head office's broker is
// and who this shop is there. Load() fills the form from the shop's
// settings, Save() writes it back (the password to its own owner-only
// file, and only when one was typed) and the link follows.
class ChainSettings : public QDialog
{
    Q_OBJECT

public:
    ChainSettings(Shop *shop, ChainLink *link, QWidget *parent = nullptr);
    // The settings tab's row: "连锁总部…" (this dialog) and "播报记录".
    static QWidget *Buttons(Shop *shop, ChainLink *link, QWidget *parent);

    void Load();
    // False (and staff told why) when the form cannot be used.
    bool Save();

private:
    void ShowState();

    Shop *m_shop;
    ChainLink *m_link;
    QLineEdit *m_broker, *m_shopId, *m_groups, *m_user, *m_password, *m_caFile;
    QLabel *m_state;
};
