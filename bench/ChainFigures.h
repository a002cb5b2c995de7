#pragma once

#include <QString>

// Figures of the chain link and the play log, against a real Mosquitto
// broker started on loopback; they need a QCoreApplication.
namespace ChainFigures {
struct Chain
{
    double sayToReceivedMs = -1; // publish → SayReceived on the shop, median
    double fanoutMs = -1;        // a say to all → the last of 20 links has it
};
Chain Measure(const QString &folder);
// 100,000 records of the play log (a busy shop's month) to CSV.
double PlayedQueryMs(const QString &folder);
}
