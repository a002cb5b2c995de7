#include "core/Notices.h"

#include "core/Log.h"

#include <QList>
#include <QMutex>
#include <QPair>

namespace {

QMutex g_mutex;
Notices::Handler g_handler;
QList<QPair<QString, QString>> g_kept;

} // namespace

void Notices::SetHandler(Handler handler)
{
    QList<QPair<QString, QString>> kept;
    {
        QMutexLocker lock(&g_mutex);
        g_handler = std::move(handler);
        if (g_handler)
            kept.swap(g_kept);
    }
    for (const auto &[title, text] : kept)
        Raise(title, text);
}

void Notices::Raise(const QString &title, const QString &text)
{
    Handler handler;
    {
        QMutexLocker lock(&g_mutex);
        if (!g_handler) {
            g_kept.append({title, text});
            return;
        }
        handler = g_handler;
    }
    handler(title, text);
}
