#include "shop/RemoteTexts.h"

#include "shop/TextRules.h"
#include "speech/Announcer.h"
#include "speech/SpeechBudget.h"

namespace {
constexpr int kKeptIds = 1000;
}

RemoteTexts::RemoteTexts(SpeechSource *source, QObject *parent) : QObject(parent), m_source(source)
{
    connect(source, &SpeechSource::Spoken, this, &RemoteTexts::Spoken);
    connect(source, &SpeechSource::Finished, this, &RemoteTexts::Finished);
}

int RemoteTexts::SpokenSecondsEstimate(const QString &text)
{
    return SpeechBudget::WholeSeconds(text);
}

QString RemoteTexts::Explain(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Queued:
        return {};
    case Verdict::NotText:
        return QStringLiteral("the text holds a NUL character");
    case Verdict::Blank:
    case Verdict::TooLong:
        return QStringLiteral("the text must hold 1 to %1 characters").arg(kMaxTextLength);
    case Verdict::TooLongToSpeak:
        return QStringLiteral("the text would take more than %1 seconds to speak").arg(kMaxWaitingSeconds);
    case Verdict::TooMuchWaiting:
        return QStringLiteral("enough is waiting to be spoken; try again later");
    }
    return {};
}

RemoteTexts::Outcome RemoteTexts::Say(const QString &text)
{
    const QString spoken = text.trimmed();
    if (spoken.contains(QChar(0)))
        return {Verdict::NotText};
    if (spoken.isEmpty())
        return {Verdict::Blank};
    if (TextRules::CharacterCount(spoken) > kMaxTextLength)
        return {Verdict::TooLong};
    const int seconds = SpokenSecondsEstimate(spoken);
    if (seconds > kMaxWaitingSeconds)
        return {Verdict::TooLongToSpeak};
    if (m_waitingTexts >= kMaxWaitingTexts || m_waitingSeconds + seconds > kMaxWaitingSeconds)
        return {Verdict::TooMuchWaiting};
    const int id = m_nextId++;
    m_said.insert(id, Announcement{false, false, seconds});
    m_said.remove(id - kKeptIds);
    ++m_waitingTexts;
    m_waitingSeconds += seconds;
    // Spoken once, in order with everything else the announcer has.
    m_source->Request(kIndexBase + id, 0, spoken, true);
    return {Verdict::Queued, id};
}

RemoteTexts::State RemoteTexts::StateOf(int id) const
{
    const auto it = m_said.constFind(id);
    if (it == m_said.constEnd())
        return State::Unknown;
    return !it->done ? State::Waiting : it->heard ? State::Spoken : State::Failed;
}

void RemoteTexts::Spoken(int index, bool heard)
{
    const auto it = m_said.find(index - kIndexBase);
    if (it != m_said.end())
        it->heard = heard;
}

void RemoteTexts::Finished(int index)
{
    const auto it = m_said.find(index - kIndexBase);
    if (it == m_said.end() || it->done)
        return;
    it->done = true;
    m_waitingTexts = qMax(0, m_waitingTexts - 1);
    m_waitingSeconds = qMax(0, m_waitingSeconds - it->seconds);
}
