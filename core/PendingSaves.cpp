#include "core/PendingSaves.h"

#include <QMutex>

#include <algorithm>

#include <utility>
#include <vector>

namespace {

struct Saver
{
    const QObject *owner;
    std::function<void()> save;
};

QMutex g_mutex;
std::vector<Saver> g_savers;

} // namespace

void PendingSaves::Add(const QObject *owner, std::function<void()> save)
{
    QMutexLocker lock(&g_mutex);
    g_savers.push_back(Saver{owner, std::move(save)});
}

void PendingSaves::Remove(const QObject *owner)
{
    QMutexLocker lock(&g_mutex);
    g_savers.erase(std::remove_if(g_savers.begin(), g_savers.end(),
                                  [owner](const Saver &s) { return s.owner == owner; }),
                   g_savers.end());
}

void PendingSaves::SaveAllNow()
{
    std::vector<Saver> savers;
    {
        QMutexLocker lock(&g_mutex);
        savers = g_savers;
    }
    for (const Saver &saver : savers)
        saver.save();
}
