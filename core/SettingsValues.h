#pragma once

#include "core/SharedText.h"

#include <QString>
#include <QStringList>

#include <atomic>

// The operator's choices, read by every part at the moment it acts.
// Written on the GUI thread; the speech worker reads yusheng, speed and volume.
struct SettingsValues
{
    SharedText yusheng{QStringLiteral("xf_xiaoyan")};
    std::atomic<int> speed{6};
    std::atomic<int> volume{10};
    unsigned int fontSize = 30;
    QString titleBGColor = QStringLiteral("红");
    QString titleColor = QStringLiteral("白");
    QString priceBgColor = QStringLiteral("黑");
    QString priceColor = QStringLiteral("白");
    QString pageTime = QStringLiteral("30秒");
    int musicVol = 50;
    int musicPlayType = 0;
    int musicStartType = 0;
    int smallWhenPlaying = 0;
    QStringList musicList;
    // 1: tracks of different loudness are brought to one level (off by default).
    int musicLoudness = 0;
    // The sound before announcements: "" none, "builtin", or a file path.
    SharedText chime;
    // The remote control interface: off by default, this PC only.
    bool remoteEnabled = false;
    int remotePort = 8787;
    bool remoteShopNetwork = false;
    // The speech cache's size on disk, in MB; read by the speech worker.
    std::atomic<int> speechCacheMb{500};
};

extern SettingsValues g_settings;
// Set once a restore has replaced the mode files: no mode saves any more.
extern bool g_restorePending;
