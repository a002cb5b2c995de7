#pragma once

#include <QObject>

class ChainLink;
class Shop;

// The shop's road to head office: the chain link started, moved or stopped
// as the settings say, its messages handed to the shop (texts spoken once,
// at their time, never past their last moment; lists applied through the
// same checks as over HTTP) and the shop's state published back.
class ChainRoad : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStatusEveryMs = 30000;

    ChainRoad(Shop *shop, QObject *parent = nullptr);
    ChainLink *Link() const { return m_link; }

public slots:
    // Starts, moves or stops the link as the settings say.
    void Apply();
    void PublishStatus();

private:
    void Say(const QString &id, const QString &text, const QDateTime &notAfter, const QDateTime &at);
    void SayNow(const QString &id, const QString &text, const QDateTime &notAfter);
    void TakeList(const QString &kind, const QByteArray &json);
    void Refused(const QString &kind, const QString &id, int row, const QString &field, const QString &reason);

    Shop *m_shop;
    ChainLink *m_link;
};
