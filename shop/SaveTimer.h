#pragma once

#include <QTimer>

// Coalesces a list mode's saves: every change restarts it, and it fires
// once, a second after the last change.
class SaveTimer : public QTimer
{
    Q_OBJECT

public:
    static constexpr int kDelayMs = 1000;

    explicit SaveTimer(QObject *parent) : QTimer(parent)
    {
        setSingleShot(true);
        setInterval(kDelayMs);
    }
    // Always a second from now, whatever interval the timer was last given.
    void Restart() { start(kDelayMs); }
};
