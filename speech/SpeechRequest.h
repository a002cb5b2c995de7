#pragma once

#include <QString>

// One queued request to the speech worker.
struct SpeechRequest
{
    enum Type { Speak = 0, Wait = 1 };

    int index = 0;        // chosen by the sending mode, sent back in the report
    int type = Speak;     // Speak the content, Wait the milliseconds in it; others are dropped
    QString content;
    bool needFinisheReport = false;
    bool dropped = false; // deleted while queued: only its report is still owed
};
