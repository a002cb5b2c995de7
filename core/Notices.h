#pragma once

#include <QString>

#include <functional>

// What the operator must be told (an unreadable list, a failed save),
// raised below the window floor and shown by whoever shows notices. A
// notice raised before anyone shows them is kept and shown once someone
// does, so nothing said at start-up is lost.
namespace Notices {
using Handler = std::function<void(const QString &title, const QString &text)>;
// Installs the one that shows notices; kept ones are handed over at once.
// An empty handler keeps notices again.
void SetHandler(Handler handler);
// Logs the notice and shows it (or keeps it for later).
void Raise(const QString &title, const QString &text);
}
