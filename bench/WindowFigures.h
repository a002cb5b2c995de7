#pragma once

#include <QString>

// Figures of the window and the word tab; they need a QApplication (offscreen).
namespace WindowFigures {
// This process's resident memory in kB (VmRSS); -1 when unknown.
long ResidentKb();

// Loading 10,000 rows into the shop's word list and showing them in the
// word tab, and saving them.
struct WordListMs
{
    double load = 0;
    double save = 0;
};
WordListMs WordList10k(const QString &dataFile);
// The worst of several damaged word lists: from the start of reading to
// the (empty) list shown.
double UnusableLoadMs(const QString &dataFile);

// Runs in a child process started by StartupFigures: builds the main
// window, shows it and prints "shown <rss kB>" on stdout.
int StartupChild();
struct Startup
{
    double ms = -1;   // process start to window shown
    double rssMb = -1; // resident memory once shown
};
// Starts this program again with the argument "--startup-child".
Startup StartupFigures(const QString &program);
}
