#pragma once

#include <QString>

// One queued request to the speech worker.
struct SpeechRequest
{
    enum Type { Speak = 0, Wait = 1 };
    // Where a request joins the queue: in turn, or (Timed) ahead of the
    // remote texts still waiting, so texts sent from outside never hold
    // back an announcement that is due at a clock time.
    enum Rank { InTurn = 0, Timed = 1, Remote = 2 };

    int index = 0;        // chosen by the sending mode, sent back in the report
    int type = Speak;     // Speak the content, Wait the milliseconds in it; others are dropped
    QString content;
    bool needFinisheReport = false;
    bool dropped = false; // deleted while queued: only its report is still owed
    int rank = InTurn;
};
