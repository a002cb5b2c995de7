#include "core/AppPaths.h"
#include "core/SettingsValues.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "TestEnvironment.h"
#include "speech/WavFile.h"
#include "speech/Announcer.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <vector>

namespace {

QList<int> Tags(const QSignalSpy &spy)
{
    QList<int> tags;
    for (const QList<QVariant> &report : spy)
        tags << report.at(0).toInt();
    return tags;
}

QList<bool> States(const QSignalSpy &spy)
{
    QList<bool> states;
    for (const QList<QVariant> &signal : spy)
        states << signal.at(0).toBool();
    return states;
}

} // namespace

// The announcer over the real speech worker (waits, and cached silent
// texts on the dummy sound driver): reports reach the source that asked,
// a cancel cuts one source only, and the music's level and running follow
// what the worker really plays.
class TestAnnouncer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Speake> m_worker;
    std::unique_ptr<Announcer> m_announcer;
    const QString m_silent = QStringLiteral("轻声的半秒"); // heard, then no trailing quiet

    SpeechSource *From(Announcer::Source source) const { return m_announcer->From(source); }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        QVERIFY(AppPaths::EnsureSpeechCacheDir());
        QVERIFY(WriteFile(SpeechCache::PathFor(m_silent), SoftTone(500, 0)));
        g_settings.chime = QString();
    }
    void init()
    {
        g_settings.smallWhenPlaying = 1;
        g_settings.musicStartType = 0;
        m_worker = std::make_unique<Speake>();
        m_announcer = std::make_unique<Announcer>(m_worker.get());
        m_worker->start();
    }
    void cleanup()
    {
        m_announcer.reset();
        m_worker.reset();
    }

    // Four sources, the same tags: each hears of its own requests only,
    // in order, and only of those it asked about.
    void reportsReachTheSourceThatAsked()
    {
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (int source = 0; source < Announcer::kSourceCount; ++source)
            spies.push_back(std::make_unique<QSignalSpy>(From(Announcer::Source(source)), &SpeechSource::Finished));
        for (int tag = 1; tag <= 3; ++tag)
            for (int source = 0; source < Announcer::kSourceCount; ++source)
                From(Announcer::Source(source))->Request(tag * 10 + source, 1, QStringLiteral("10"), tag != 2);
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        for (int source = 0; source < Announcer::kSourceCount; ++source)
            QCOMPARE(Tags(*spies[source]), QList<int>({10 + source, 30 + source}));
    }

    // Pausing one source cuts its speech in hand and drops what it has
    // queued (still reported); the other source's requests are not cut.
    void cancelOneSourceWhileAnotherSpeaks()
    {
        QSignalSpy word(From(Announcer::Word), &SpeechSource::Finished);
        QSignalSpy price(From(Announcer::Price), &SpeechSource::Finished);
        From(Announcer::Word)->Request(1, 1, QStringLiteral("600000"), true);
        From(Announcer::Price)->Request(1, 1, QStringLiteral("400"), true);
        From(Announcer::Word)->Request(2, 1, QStringLiteral("600000"), true);
        From(Announcer::Word)->Request(3, 1, QStringLiteral("600000"), false);
        QTest::qWait(100);
        From(Announcer::Word)->Cancel();
        QElapsedTimer clock;
        clock.start();
        QTRY_COMPARE_WITH_TIMEOUT(price.size(), 1, 20000);
        QVERIFY2(clock.elapsed() >= 300, QByteArray::number(clock.elapsed())); // the price wait ran whole
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        QCOMPARE(Tags(word), QList<int>({1, 2}));

        // A deleted row's request is dropped; the next one is not cut by it.
        From(Announcer::Price)->Request(2, 1, QStringLiteral("600000"), true);
        From(Announcer::Price)->Request(3, 1, QStringLiteral("200"), true);
        From(Announcer::Price)->Drop(3);
        From(Announcer::Price)->Cancel();
        QTRY_COMPARE_WITH_TIMEOUT(Tags(price), QList<int>({1, 2, 3}), 20000);
        From(Announcer::Price)->Request(4, 1, QStringLiteral("300"), true);
        clock.restart();
        QTRY_COMPARE_WITH_TIMEOUT(price.size(), 4, 20000);
        QVERIFY2(clock.elapsed() >= 250, QByteArray::number(clock.elapsed()));
    }

    // A timed announcement is not held back by remote texts already waiting,
    // and what is shown as waiting is in the order it will be heard.
    void timerGoesAheadOfRemoteTexts()
    {
        QStringList heard;
        for (const auto source : {Announcer::Word, Announcer::Timer, Announcer::Remote})
            connect(From(source), &SpeechSource::Finished, this,
                    [&heard, source](int tag) { heard << QStringLiteral("%1:%2").arg(source).arg(tag); });
        const QStringList texts = {QStringLiteral("远程一"), QStringLiteral("远程二"), QStringLiteral("定时")};
        for (const QString &text : texts)
            QVERIFY(WriteFile(SpeechCache::PathFor(text), WavFile::Header(1600) + QByteArray(1600, '\0')));
        QStringList played; // what was heard, for the play log; waits are not
        connect(m_announcer.get(), &Announcer::Played, this,
                [&played](int source, const QString &text, const QDateTime &started, const QDateTime &ended) {
                    played << QStringLiteral("%1:%2%3").arg(source).arg(text, started <= ended ? "" : " ends before it starts");
                });
        From(Announcer::Word)->Request(1, 1, QStringLiteral("300"), true);
        From(Announcer::Remote)->Request(1, 0, texts[0], true);
        From(Announcer::Remote)->Request(2, 0, texts[1], true);
        From(Announcer::Timer)->Request(1, 1, QStringLiteral("10"), false); // the lead-in
        From(Announcer::Timer)->Request(2, 0, texts[2], true);
        QCOMPARE(m_announcer->Waiting(), QStringList({texts[2], texts[0], texts[1]}));
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        QCOMPARE(heard, QStringList({"0:1", "2:2", "3:1", "3:2"}));
        QCOMPARE(played, QStringList({"2:定时", "3:远程一", "3:远程二"}));
    }

    // A long remote text goes clause by clause: an announcement due while it
    // sounds comes right after the clause in hand, the rest of the text
    // follows it, and the remote source hears of its text once, heard.
    void timedAnnouncementCutsInAfterOneClause()
    {
        const QStringList numbers = {"一", "二", "三", "四", "五", "六"};
        QString remote;
        for (const QString &n : numbers) {
            const QString clause = QStringLiteral("远程第%1句话，").arg(n);
            QVERIFY(WriteFile(SpeechCache::PathFor(clause), WavFile::Header(9600) + QByteArray(9600, '\0')));
            remote += clause;
        }
        const QString timed = QStringLiteral("现在是整点报时");
        QVERIFY(WriteFile(SpeechCache::PathFor(timed), WavFile::Header(9600) + QByteArray(9600, '\0')));
        QStringList sounded, waitingDuringTimed;
        connect(m_worker.get(), &Speake::SoundStarted, this, [&] {
            sounded << m_announcer->Sounding();
            if (sounded.size() == 1) // due now: the timer's announcement
                From(Announcer::Timer)->Request(1, 0, timed, true);
            if (sounded.last() == timed)
                waitingDuringTimed = m_announcer->Waiting();
        });
        QSignalSpy finished(From(Announcer::Remote), &SpeechSource::Finished);
        QSignalSpy spoken(From(Announcer::Remote), &SpeechSource::Spoken);
        QSignalSpy played(m_announcer.get(), &Announcer::Played);
        From(Announcer::Remote)->Request(7, 0, remote, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        QStringList expected(numbers.size(), remote);
        expected.insert(1, timed);
        QCOMPARE(sounded, expected);
        QCOMPARE(waitingDuringTimed, QStringList{remote});
        QCOMPARE(Tags(finished), QList<int>{7});
        QCOMPARE(spoken.size(), 1);
        QCOMPARE(spoken.at(0).at(1).toBool(), true);
        QStringList logged; // the play log hears of the text once, whole
        for (const QList<QVariant> &entry : played)
            logged << entry.at(1).toString();
        QCOMPARE(logged, QStringList({timed, remote}));
    }

    // Down from the first sound, not up again between rows close together,
    // back once the quiet has lasted; music following the broadcasts
    // starts with the first request and pauses only once no source plays.
    void musicFollowsTheWorker()
    {
        QSignalSpy duck(m_announcer.get(), &Announcer::DuckMusic);
        QSignalSpy want(m_announcer.get(), &Announcer::WantMusic);
        From(Announcer::Word)->SetActive(true);
        From(Announcer::Word)->Request(1, 0, m_silent, true);
        QCOMPARE(States(want), QList<bool>({true}));
        QTRY_COMPARE_WITH_TIMEOUT(States(duck), QList<bool>({true}), 20000);
        // A wait row shorter than the quiet, then the next text.
        From(Announcer::Word)->Request(2, 1, QStringLiteral("500"), true);
        From(Announcer::Word)->Request(3, 0, m_silent, true);
        // The remote interface speaks too while the word list plays.
        From(Announcer::Remote)->Request(1, 0, m_silent, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        QCOMPARE(States(duck), QList<bool>({true}));
        QCOMPARE(States(want), QList<bool>({true})); // the word list still plays
        QTRY_COMPARE_WITH_TIMEOUT(States(duck), QList<bool>({true, false}), 20000);
        From(Announcer::Word)->SetActive(false);
        QCOMPARE(States(want), QList<bool>({true, false}));

        // Turned down is not asked for when the setting is off.
        g_settings.smallWhenPlaying = 0;
        From(Announcer::Remote)->Request(2, 0, m_silent, true);
        QTRY_COMPARE_WITH_TIMEOUT(m_announcer->Outstanding(), 0, 20000);
        QCOMPARE(States(duck), QList<bool>({true, false}));
        QCOMPARE(States(want), QList<bool>({true, false, true, false}));
    }
};

QTEST_GUILESS_MAIN(TestAnnouncer)
#include "tst_announcer.moc"
