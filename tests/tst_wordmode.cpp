#include "core/AppPaths.h"
#include "DialogDriver.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "core/SettingsValues.h"
#include "modes/SimplePlay.h"
#include "TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextEdit>
#include <QtTest>

#include <memory>

namespace {

struct Request
{
    int index;
    int type;
    QString content;
    bool report;
};

QList<Request> Requests(const QSignalSpy &spy)
{
    QList<Request> out;
    for (const QList<QVariant> &a : spy)
        out.append({a.at(0).toInt(), a.at(1).toInt(), a.at(2).toString(), a.at(3).toBool()});
    return out;
}

} // namespace

class TestWordMode : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimplePlay> m_mode;

    QListWidget *List() const { return m_mode->findChild<QListWidget *>("listWidget_Record"); }
    QCheckBox *Loop() const { return m_mode->findChild<QCheckBox *>("checkBox_recycle"); }
    QLineEdit *Edit() const { return m_mode->findChild<QLineEdit *>("lineEdit_PlayContent"); }
    QPushButton *PlayButton() const { return m_mode->findChild<QPushButton *>("pushButton_DoPlay"); }
    QPushButton *PauseButton() const { return m_mode->findChild<QPushButton *>("pushButton_pause"); }
    int Id(int row) const { return List()->item(row)->data(Qt::UserRole).toInt(); }
    QStringList Rows() const
    {
        QStringList rows;
        for (int i = 0; i < List()->count(); ++i)
            rows << List()->item(i)->text();
        return rows;
    }
    // A fresh word mode over the given file contents (none: no file).
    void Reload(const QByteArray *contents = nullptr)
    {
        g_restorePending = true; // the old mode must not write on its way out
        m_mode.reset();
        g_restorePending = false;
        QFile::remove(SimplePlay::FilePath());
        if (contents)
            QVERIFY(WriteFile(SimplePlay::FilePath(), *contents));
        m_mode = std::make_unique<SimplePlay>(0);
    }
    void LoadRows(const QStringList &rows, bool loop)
    {
        QByteArray xml = "<records>";
        for (const QString &row : rows)
            xml += "<record>" + row.toUtf8() + "</record>";
        xml += "</records>";
        Reload(&xml);
        Loop()->setChecked(loop);
    }
    void Type(const QString &text)
    {
        Edit()->setText(text);
        QTest::keyClick(Edit(), Qt::Key_Return);
    }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        MyMessageBox::ShowRaisedNotices();
    }
    void init()
    {
        g_restorePending = false;
        g_settings.musicStartType = 0;
        g_settings.smallWhenPlaying = 0;
        LoadRows({}, false);
    }
    void cleanup()
    {
        g_restorePending = true;
        m_mode.reset();
        g_restorePending = false;
        CloseNotices();
    }

    void waitTexts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isWait");
        QTest::addColumn<int>("ms");
        QTest::newRow("seconds") << "延时3秒" << true << 3000;
        QTest::newRow("minutes") << "延时2分" << true << 120000;
        QTest::newRow("blanks around the number") << "延时 30 秒" << true << 30000;
        QTest::newRow("unreadable number") << "延时abc秒" << true << 0;
        QTest::newRow("no unit") << "延时5" << false << 0;
        QTest::newRow("not at the start") << "请延时5秒钟" << false << 0;
        QTest::newRow("too long for an int: clamped") << "延时99999999999秒" << true << 2147483000;
        QTest::newRow("minutes beyond an int: clamped") << "延时40000分" << true << 2147460000;
    }
    void waitTexts()
    {
        QFETCH(QString, text);
        QFETCH(bool, isWait);
        QFETCH(int, ms);
        int parsed = 0;
        QCOMPARE(ParseWaitText(text, &parsed), isWait);
        QCOMPARE(parsed, ms);
    }

    void typedTextAndWaitBecomeRequests()
    {
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        QSignalSpy start(m_mode.get(), &SimplePlay::StartPlay);
        Type(QStringLiteral("  你好 "));
        QVERIFY(Edit()->text().isEmpty());
        QCOMPARE(Rows(), QStringList{"你好"});
        QList<Request> r = Requests(out);
        QCOMPARE(r.size(), 2);
        QCOMPARE(r[0].index, Id(0));
        QCOMPARE(r[0].type, 0);
        QCOMPARE(r[0].content, QStringLiteral("你好, ."));
        QVERIFY(r[0].report);
        QCOMPARE(r[1].index, Id(0));
        QCOMPARE(r[1].type, 1);
        QCOMPARE(r[1].content, QStringLiteral("800"));
        QVERIFY(!r[1].report);
        QCOMPARE(start.size(), 1);
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Playing));
        QTRY_COMPARE(PlayButton()->styleSheet(), QStringLiteral("background-color:#00FF00"));

        m_mode->ActionFinished(Id(0));
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Stopped));
        QTRY_COMPARE(PlayButton()->styleSheet(), QStringLiteral("background-color:#DFF7F3"));

        out.clear();
        Type(QStringLiteral("延时3秒"));
        r = Requests(out);
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0].index, Id(1));
        QCOMPARE(r[0].type, 1);
        QCOMPARE(r[0].content, QStringLiteral("3000"));
        QVERIFY(r[0].report);
        QCOMPARE(List()->item(1)->icon().pixmap(16).toImage(),
                 QIcon(":/image/wait.png").pixmap(16).toImage());
        QVERIFY(Id(1) > Id(0));
    }

    void loopPlaybackDrivenByReports()
    {
        g_settings.smallWhenPlaying = 1;
        LoadRows({"甲", "乙", "丙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        QSignalSpy active(m_mode.get(), &SimplePlay::Active);

        PlayButton()->click();
        QCOMPARE(active.size(), 1);
        QVERIFY(active.last().at(0).toBool());
        QStringList spoken;
        for (int step = 0; step < 4; ++step) {
            const Request text = Requests(out).at(out.size() - 2);
            spoken << text.content;
            m_mode->ActionFinished(text.index);
        }
        QCOMPARE(spoken, QStringList({"甲, .", "乙, .", "丙, .", "甲, ."}));
        for (const QList<QVariant> &state : active)
            QVERIFY(state.at(0).toBool()); // a loop stays active from row to row

        // Without the loop box one row is read, then the mode stops.
        Loop()->setChecked(false);
        out.clear();
        m_mode->ActionFinished(Requests(QSignalSpy(m_mode.get(), &SimplePlay::OutAudio)).value(0).index);
        QCOMPARE(out.size(), 0);
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Stopped));
        QVERIFY(!active.last().at(0).toBool());
    }

    // The list replaced whole while it loops (as over HTTP): the row being
    // read is found again, and the loop goes on after it in the new list.
    void replacedWhilePlaying()
    {
        LoadRows({"甲", "乙", "丙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        List()->setCurrentRow(1);
        QVERIFY(m_mode->Play());
        const int sent = Requests(out).first().index;
        m_mode->ReplaceWords({{"新", "乙", "丁"}, true});
        QCOMPARE(Rows(), QStringList({"新", "乙", "丁"}));
        QVERIFY(ReadFile(SimplePlay::FilePath()).contains("丁")); // saved at once
        m_mode->ActionFinished(sent);
        QCOMPARE(Requests(out).last().content, QStringLiteral("800"));
        QCOMPARE(Requests(out).at(out.size() - 2).content, QStringLiteral("丁, ."));
    }

    void pauseAndResume()
    {
        LoadRows({"甲", "乙", "丙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        QSignalSpy cancels(m_mode.get(), &SimplePlay::CancelSpeech);
        QSignalSpy active(m_mode.get(), &SimplePlay::Active);
        List()->setCurrentRow(1);
        QVERIFY(m_mode->Play());
        QVERIFY(m_mode->Pause());
        QCOMPARE(cancels.size(), 1);
        QVERIFY(!active.last().at(0).toBool());
        QTRY_COMPARE(PauseButton()->styleSheet(), QStringLiteral("background-color:#00FF00"));
        QVERIFY(!m_mode->Pause()); // not playing any more

        // The cut row's report leaves the mode paused on its row.
        m_mode->ActionFinished(Id(1));
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Paused));
        QCOMPARE(out.size(), 2);
        // Play reads the current row again from its start.
        PlayButton()->click();
        QCOMPARE(out.size(), 4);
        QCOMPARE(Requests(out).at(2).content, QStringLiteral("乙, ."));

        // A quick pause and play before the report queues nothing; the
        // report then moves on as usual.
        QVERIFY(m_mode->Pause());
        QVERIFY(m_mode->Play());
        QCOMPARE(out.size(), 4);
        m_mode->ActionFinished(Id(1));
        QCOMPARE(Requests(out).at(4).content, QStringLiteral("丙, ."));
    }

    void playSelectAfterAnIdlePause()
    {
        LoadRows({"甲", "乙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        QVERIFY(!m_mode->Pause()); // nothing played: nothing to cut
        List()->setCurrentRow(1);
        m_mode->PlaySelect();
        QVERIFY(!Loop()->isChecked());
        QCOMPARE(Requests(out).value(0).content, QStringLiteral("乙, ."));

        // While its row is still out in the worker, nothing new is queued.
        QVERIFY(m_mode->Pause());
        m_mode->PlaySelect();
        QCOMPARE(out.size(), 2);
    }

    void reportForDeletedRows()
    {
        LoadRows({"甲", "乙", "丙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        QSignalSpy deleted(m_mode.get(), &SimplePlay::DelRecord);
        List()->setCurrentRow(1);
        m_mode->Play();
        const int spokenId = Id(1);
        List()->item(1)->setSelected(true);
        m_mode->DelTmpPlay();
        QCOMPARE(deleted.size(), 1);
        QCOMPARE(deleted.at(0).at(0).toInt(), spokenId);
        QCOMPARE(Rows(), QStringList({"甲", "丙"}));
        // The report finds no row: playback goes on with the current row.
        m_mode->ActionFinished(spokenId);
        QCOMPARE(Requests(out).last().index, List()->currentItem()->data(Qt::UserRole).toInt());
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Playing));

        // "删除所有行" while playing: the last report leaves it stopped.
        AnswerNextDialog([](QWidget *box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("警告"));
            qobject_cast<QMessageBox *>(box)->button(QMessageBox::Ok)->click();
        });
        m_mode->DelAll();
        QCOMPARE(List()->count(), 0);
        QCOMPARE(deleted.size(), 3);
        out.clear();
        m_mode->ActionFinished(Requests(QSignalSpy(m_mode.get(), &SimplePlay::OutAudio)).value(0).index);
        QCOMPARE(out.size(), 0);
        QCOMPARE(m_mode->PlayState(), int(SimplePlay::Stopped));
    }

    // Moving the current row never grows the selection: Delete removes
    // exactly the row in hand.
    void deleteAfterTheLoopMovesOnRemovesOneRow()
    {
        LoadRows({"甲", "乙", "丙"}, true);
        QSignalSpy out(m_mode.get(), &SimplePlay::OutAudio);
        PlayButton()->click();
        Type(QStringLiteral("丁")); // added while the loop runs
        for (int step = 0; step < 2; ++step)
            m_mode->ActionFinished(Requests(out).at(out.size() - 2).index);
        QCOMPARE(List()->selectedItems(), QList<QListWidgetItem *>{List()->currentItem()});
        m_mode->DelTmpPlay();
        QCOMPARE(List()->count(), 3);
    }

    // Texts longer than the limit are cut: typed, and loaded from the file.
    void overlongTextsAreCut()
    {
        const QByteArray xml = "<records><record>" + QByteArray(2500, 'a') + "</record></records>";
        Reload(&xml);
        QCOMPARE(List()->item(0)->text().size(), kMaxTextLength);
        QCOMPARE(Edit()->maxLength(), kMaxTextLength);
        QVERIFY(Edit()->placeholderText().contains(QString::number(kMaxTextLength)));
    }

    void deleteAllCanBeDeclined()
    {
        LoadRows({"甲"}, false);
        AnswerNextDialog([](QWidget *box) { qobject_cast<QMessageBox *>(box)->reject(); });
        m_mode->DelAll();
        QCOMPARE(Rows(), QStringList{"甲"});
    }

    void dialogsEditAndInsertRows()
    {
        LoadRows({"甲", "乙"}, false);
        List()->setCurrentRow(0);
        AnswerNextDialog([](QWidget *dialog) {
            dialog->findChild<QLineEdit *>("lineEdit")->setText("5");
            dialog->findChild<QComboBox *>("comboBox")->setCurrentIndex(1);
            qobject_cast<QDialog *>(dialog)->accept();
        });
        m_mode->InsertWait();
        QCOMPARE(Rows(), QStringList({"甲", "延时5分", "乙"}));
        QCOMPARE(List()->currentRow(), 0);

        const int id = Id(2);
        AnswerNextDialog([](QWidget *dialog) {
            dialog->findChild<QTextEdit *>("textEdit")->setPlainText("  丁  ");
            qobject_cast<QDialog *>(dialog)->accept();
        });
        m_mode->DblClickRecord(List()->item(2));
        QCOMPARE(List()->item(2)->text(), QStringLiteral("丁"));
        QCOMPARE(Id(2), id);
        AnswerNextDialog([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->reject(); });
        m_mode->DblClickRecord(List()->item(2));
        QCOMPARE(List()->item(2)->text(), QStringLiteral("丁"));
    }

    void fileLayoutAndRoundTrip()
    {
        const QStringList rows = {"50% off & more", "a<b>c", "say \"hi\" 'now'", "", "西瓜1块9毛8一斤"};
        LoadRows({}, false);
        for (const QString &row : rows)
            m_mode->AddRecord(row);
        Loop()->setChecked(true);
        m_mode->SaveFile();
        QCOMPARE(ReadFile(SimplePlay::FilePath()),
                 QByteArray("<records recycle=\"true\">\n"
                            "    <record>50% off &amp; more</record>\n"
                            "    <record>a&lt;b&gt;c</record>\n"
                            "    <record>say &quot;hi&quot; &apos;now&apos;</record>\n"
                            "    <record></record>\n"
                            "    <record>西瓜1块9毛8一斤</record>\n"
                            "</records>\n"));
        m_mode.reset(); // saved again on the way out
        m_mode = std::make_unique<SimplePlay>(0);
        QCOMPARE(Rows(), rows);
        QVERIFY(Loop()->isChecked());

        // Awkward rows come back exactly, through the file and through an
        // untouched edit dialog.
        const QStringList awkward = {"< & \" ' ]]>", "&lt;b&gt;", "买一  送一", "a\tb", "🍉西瓜", "一\r二",
                                     "特价\u00a0西瓜", "<b>特价</b> 西瓜"};
        LoadRows({}, false);
        for (const QString &row : awkward)
            m_mode->AddRecord(row);
        m_mode->SaveFile();
        m_mode.reset();
        m_mode = std::make_unique<SimplePlay>(0);
        QCOMPARE(Rows(), awkward);
        for (int row = 0; row < awkward.size(); ++row) {
            AnswerNextDialog([](QWidget *dialog) { qobject_cast<QDialog *>(dialog)->accept(); });
            m_mode->DblClickRecord(List()->item(row));
        }
        QCOMPARE(Rows(), awkward);

        LoadRows({}, false);
        m_mode->SaveFile();
        QCOMPARE(ReadFile(SimplePlay::FilePath()), QByteArray("<records recycle=\"false\" />\n"));
    }

    void loadingIsLenient_data()
    {
        QTest::addColumn<QByteArray>("xml");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<bool>("loop");
        QTest::newRow("other names") << QByteArray("<list recycle=\"TRUE\"><a>一</a><b>二</b></list>")
                                     << QStringList({"一", "二"}) << true;
        QTest::newRow("True") << QByteArray("<records recycle=\"True\"><record>一</record></records>")
                              << QStringList({"一"}) << true;
        QTest::newRow("false leaves the box") << QByteArray("<records recycle=\"false\"><record/></records>")
                                              << QStringList({""}) << false;
        QTest::newRow("20,000 children in a row") << "<records><record>一" + QByteArray("<x/>").repeated(20000)
                                                          + "</record></records>"
                                                   << QStringList({"一"}) << false;
    }
    void loadingIsLenient()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QStringList, rows);
        QFETCH(bool, loop);
        Reload(&xml);
        QCOMPARE(Rows(), rows);
        QCOMPARE(Loop()->isChecked(), loop);
    }

    void missingFileGivesDefaultsAndSavesThem()
    {
        Reload();
        QCOMPARE(List()->count(), 3);
        QVERIFY(Rows().at(1).startsWith(QStringLiteral("欢迎光临")));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SimplePlay::FilePath()), 3000);
    }

    void burstOfEditsIsWrittenOnce()
    {
        QFile::remove(SimplePlay::FilePath());
        for (int i = 0; i < 10; ++i) {
            m_mode->AddRecord(QString::number(i));
            QTest::qWait(50);
        }
        QTest::qWait(500);
        QVERIFY(!QFile::exists(SimplePlay::FilePath()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SimplePlay::FilePath()), 2000);
        const qint64 written1 = QFileInfo(SimplePlay::FilePath()).fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch();
        const QByteArray written = ReadFile(SimplePlay::FilePath());
        QCOMPARE(written.count("<record>"), 10);
        QTest::qWait(1500);
        QCOMPARE(QFileInfo(SimplePlay::FilePath()).fileTime(QFileDevice::FileModificationTime).toMSecsSinceEpoch(), written1);
    }

    void nothingWrittenWhileRestorePending()
    {
        const QByteArray restored = "<records recycle=\"false\"><record>restored</record></records>";
        Reload(&restored);
        m_mode->AddRecord(QStringLiteral("in memory only"));
        g_restorePending = true;
        m_mode->show();
        QVERIFY(QTest::qWaitForWindowActive(m_mode.get()));
        QTest::keyClick(m_mode.get(), Qt::Key_S, Qt::ControlModifier);
        QTest::qWait(1200); // the save timer fires too
        m_mode.reset();     // and the destructor saves
        QCOMPARE(ReadFile(SimplePlay::FilePath()), restored);
        g_restorePending = false;
    }

    void ctrlSSavesAtOnce()
    {
        m_mode->AddRecord(QStringLiteral("立即保存"));
        m_mode->show();
        QVERIFY(QTest::qWaitForWindowActive(m_mode.get()));
        QTest::keyClick(m_mode.get(), Qt::Key_S, Qt::ControlModifier);
        QVERIFY(ReadFile(SimplePlay::FilePath()).contains("立即保存"));
    }

    void unwritableFileKeepsTheList()
    {
        // A directory where the file should be: the save fails, nothing is lost.
        QFile::remove(SimplePlay::FilePath());
        QVERIFY(QDir().mkpath(SimplePlay::FilePath()));
        m_mode->AddRecord(QStringLiteral("保留"));
        m_mode->SaveFile();
        QCOMPARE(Rows(), QStringList{"保留"});
        QVERIFY(QDir().rmdir(SimplePlay::FilePath()));
    }
};

QTEST_MAIN(TestWordMode)
#include "tst_wordmode.moc"
