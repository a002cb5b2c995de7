#include "core/AppPaths.h"
#include "DialogDriver.h"
#include "app/Parlivo.h"
#include "modes/MyMessageBox.h"
#include "modes/PriceMode.h"
#include "modes/TimerMode.h"
#include "settings/Settings.h"
#include "core/SettingsValues.h"
#include "modes/SimplePlay.h"
#include "shop/PricePlayer.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/StoredList.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"
#include "speech/Speake.h"
#include "speech/SpeechCache.h"
#include "app/Startup.h"
#include "TestEnvironment.h"

#include <QCheckBox>
#include <QLabel>
#include <QDialogButtonBox>
#include <QProcess>
#include <QPushButton>
#include <QCryptographicHash>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTabWidget>
#include <QtTest>

#include <memory>

#include <csignal>
#include <sys/resource.h>

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Shop> m_shop;
    std::unique_ptr<Parlivo> m_window;

    QTabWidget *Tabs() const { return m_window->findChild<QTabWidget *>("tabWidget"); }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        PrepareApplication(*qApp);
        ShopSettings::UseFilePath(IsolateUserDirs().path() + "/settings.xml");
        QVERIFY(QDir::setCurrent(IsolateUserDirs().path()));
        const QByteArray rows = "<records recycle=\"true\"><record>甲</record><record>乙</record></records>";
        QDir().mkpath(AppPaths::DataDir());
        QFile file(WordListModel::FilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(rows);
        file.close();
        m_shop = std::make_unique<Shop>();
        m_window = std::make_unique<Parlivo>(m_shop.get());
    }
    void cleanupTestCase()
    {
        m_window.reset();
        m_shop.reset();
    }

    // Qt's own texts come in Chinese.
    void qtTextsAreChinese()
    {
        QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        QCOMPARE(box.button(QDialogButtonBox::Ok)->text(), QStringLiteral("确定"));
        QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
    }

    // SIGHUP (a lost session) closes the program like SIGTERM: it ends
    // normally, through the shop's own teardown, instead of dying of the
    // signal, and the lists on disk stay whole.
    void hangUpSignalClosesNormally()
    {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path() + "/data");
        env.insert("XDG_CACHE_HOME", home.path() + "/cache");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SDL_AUDIODRIVER", "dummy");
        QProcess program;
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(home.path());
        program.start(QCoreApplication::applicationDirPath() + "/parlivo", {});
        QVERIFY(program.waitForStarted(20000));
        // Its first save (of the default rows) shows that it is up and running.
        const QString list = home.path() + "/data/Parlivo/Parlivo/SimpleMode.xml";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(list) && ReadFile(list).contains("</records>"), 30000);
        const QByteArray saved = ReadFile(list);
        ::kill(pid_t(program.processId()), SIGHUP);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(ReadFile(list), saved);
    }

    void tabsAndTitle()
    {
        QTabWidget *tabs = Tabs();
        QCOMPARE(m_window->centralWidget(), tabs);
        QCOMPARE(tabs->count(), 4);
        QCOMPARE(tabs->tabText(0), QStringLiteral("文字"));
        QCOMPARE(tabs->tabText(1), QStringLiteral("报价"));
        QCOMPARE(tabs->tabText(2), QStringLiteral("定时"));
        QCOMPARE(tabs->tabText(3), QStringLiteral("设置"));
        QCOMPARE(tabs->widget(0), m_window->WordMode());
        for (int i = 0; i < 4; ++i)
            QVERIFY(!tabs->tabIcon(i).isNull());
        QCOMPARE(tabs->currentIndex(), 1);
        QVERIFY(m_window->windowTitle().contains("V1.7"));
        QVERIFY(Parlivo::AboutText().contains("1.7"));
    }

    void placementAndTabWidths()
    {
        QCOMPARE(Parlivo::StartGeometry(QRect(0, 0, 1920, 1040), 384), QRect(768, 30, 384, 990));
        QCOMPARE(Parlivo::StartGeometry(QRect(0, 0, 1023, 700), 384).left(), 319);
        m_window->resize(403, 500);
        m_window->show();
        QTRY_COMPARE(Tabs()->width(), 403);
        QCOMPARE(Tabs()->styleSheet(), QStringLiteral("QTabBar::tab{width:100}"));
    }

    // Typing a text and pressing Return: the real worker synthesizes it into
    // the cache file of the text as the current voice says it, speaks it and
    // reports, and the report moves the loop to the next row.
    void typedTextIsSpokenAndTheLoopMovesOn()
    {
        SimplePlay *word = m_window->WordMode();
        Tabs()->setCurrentIndex(0);
        auto *view = word->findChild<QListView *>("listView_Record");
        auto *edit = word->findChild<QLineEdit *>("lineEdit_PlayContent");
        QVERIFY(word->findChild<QCheckBox *>("checkBox_recycle")->isChecked());
        QSignalSpy reports(m_shop->Worker(), &Speake::ActionFinished);
        QSignalSpy out(m_shop->WordLoop(), &WordPlayer::OutAudio);

        edit->setText(QStringLiteral("欢迎光临"));
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(view->model()->rowCount(), 3);
        QCOMPARE(view->model()->index(2, 0).data().toString(), QStringLiteral("欢迎光临"));
        QCOMPARE(view->currentIndex().row(), 2);

        const QString wav = SpeechCache::PathFor(QStringLiteral("欢迎光临, ."));
        QVERIFY(wav.startsWith(AppPaths::SpeechCacheDir()));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(wav), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 10000);
        // The loop wraps to the first row and sends it on.
        QTRY_COMPARE(view->currentIndex().row(), 0);
        QCOMPARE(out.at(out.size() - 2).at(2).toString(), QStringLiteral("甲, ."));
        m_shop->PauseMode(Shop::Mode::Word);
    }

    // The timer's price task starts and stops the price loop the price tab shows.
    void timerModeDrivesPriceMode()
    {
        QCOMPARE(Tabs()->widget(1), m_window->PricePage());
        QCOMPARE(Tabs()->widget(2), m_window->TimerPage());
        PricePlayer *price = m_shop->PriceLoop();
        QSignalSpy requests(price, &PricePlayer::OutAudio);
        price->StartUnderTimer();
        QCOMPARE(price->GetState(), PricePlayer::Playing);
        QCOMPARE(m_shop->ModeState(Shop::Mode::Price), QStringLiteral("playing"));
        QCOMPARE(requests.size(), 1);
        QVERIFY(!m_shop->PauseMode(Shop::Mode::Price)); // held by the timer
        price->StopUnderTimer();
        QTRY_COMPARE_WITH_TIMEOUT(price->GetState(), PricePlayer::Stopped, 60000);
        QCOMPARE(requests.size(), 1); // the row in hand finished, nothing after it
    }

    // Closing while the list could not be saved asks first; 否 (the
    // default, so Enter) keeps the window. It closes the window.
    void closingAfterAFailedSaveAsks()
    {
        m_window->show();
        m_shop->Words()->Append(QStringLiteral("未保存的一行"));
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit full = old;
        full.rlim_cur = 16;
        setrlimit(RLIMIT_FSIZE, &full);
        AnswerNextDialog([](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); });
        QVERIFY(!m_window->close());
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(m_window->isVisible());
        QVERIFY(m_shop->Words()->Store().SaveFailed());
        // Saved now, so it closes without a question.
        m_window->WordMode()->SaveFile();
        QVERIFY(m_window->close());
    }

    // Notices raised while the window is built (a damaged settings file,
    // a restore cut short) are centred on the window once it shows.
    void startupNoticesCentredOnTheWindow()
    {
        m_window.reset();
        m_shop.reset();
        CloseNotices();
        QVERIFY(WriteFile(ShopSettings::FilePath(), "<settings><voice>cut"));
        QVERIFY(WriteFile(AppPaths::DataDir() + "/restore.unfinished", "copying\n"));
        QVERIFY(WriteFile(AppPaths::DataDir() + "/price.xml.staged", "<prices/>"));
        // As at start-up: a restore cut short is undone before the shop reads its lists.
        MyMessageBox::ShowNotice(QStringLiteral("提示"), FinishInterruptedBackup());
        Shop shop;
        Parlivo window(&shop);
        window.setGeometry(Parlivo::StartGeometry(QRect(0, 0, 1600, 900), window.width()));
        window.show();
        QStringList texts;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *notice = qobject_cast<MyMessageBox *>(w); notice && notice->isVisible()) {
                texts << notice->findChild<QLabel *>("label")->text();
                QVERIFY((notice->geometry().center() - window.frameGeometry().center()).manhattanLength() <= 4);
            }
        QCOMPARE(texts.size(), 2);
        QVERIFY2(texts.join("|").contains(QStringLiteral("设置文件无法读取")) && !texts.join("|").contains(QStringLiteral("文件文件")), qPrintable(texts.join("|")));
        QVERIFY(texts.join("|").contains(QStringLiteral("上次的数据还原在完成前中断，已撤销")));
        QVERIFY(!QFile::exists(AppPaths::DataDir() + "/price.xml.staged"));
        CloseNotices();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
