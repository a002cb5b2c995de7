#pragma once

#include <QMutex>
#include <QString>

// A text written on the GUI thread and read whole from the speech worker.
class SharedText
{
public:
    explicit SharedText(const QString &value = QString()) : m_value(value) {}
    SharedText &operator=(const QString &value)
    {
        QMutexLocker lock(&m_mutex);
        m_value = value;
        return *this;
    }
    QString Get() const
    {
        QMutexLocker lock(&m_mutex);
        return m_value;
    }

private:
    mutable QMutex m_mutex;
    QString m_value;
};
