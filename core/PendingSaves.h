#pragma once

#include <functional>

class QObject;

// The list modes' savers, for the ways out of the process that skip the
// window's normal teardown (Qt ends the process with exit() when the
// display connection is lost). A mode registers itself while it lives.
namespace PendingSaves {
void Add(const QObject *owner, std::function<void()> save);
void Remove(const QObject *owner);
// Runs every registered saver once.
void SaveAllNow();
}
