#pragma once

// Figures of price and timer mode; they need a QApplication (offscreen).
namespace TimerFigures {
struct PriceListMs
{
    double load = 0; // load and show price.xml
    double save = 0;
};
// A price list of so many rows (prices that are no numbers when asked)
// loaded and shown, then saved.
PriceListMs PriceList(int rows, bool oddPrices);
// One scheduling step over a 1,000-task table, in microseconds.
double TimerStepUs();
// The 24-hour day of the default tasks, clock and worker simulated.
double SimulatedDayMs();
// Seven days of the default tasks restarting each day by themselves.
double SimulatedWeekMs();
// The example price list looped on the simulated clock and worker: the
// resident memory after 10,000 rows spoken minus after 1,000, per 1,000 rows.
double PriceLoopRssGrowthKbPer1000Rows();
// Days of the default tasks, with or without the daily restart.
double SimulatedDaysMs(int days, bool dailyRestart);
}
