#pragma once

// Figures of very long rows: memory while one plays, and how fast the
// worker stops in the middle of synthesizing one.
namespace LongTextFigures {
constexpr int kChars = 20000;
// Peak resident memory (MB) while the worker plays a 20,000-character row.
double PlayRssMb();
// From Stop() to the worker thread's end, while it synthesizes such a row.
double QuitDuringSynthesisMs();
}
