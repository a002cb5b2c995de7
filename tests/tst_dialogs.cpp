#include "DialogDriver.h"
#include "modes/GetEditString.h"
#include "modes/ModeHelpers.h"
#include "modes/MyMessageBox.h"
#include "modes/PlayedDialog.h"
#include "TestEnvironment.h"
#include "modes/SelectWaitTimeDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QTableView>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QValidator>
#include <QtTest>

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void waitTimeValidator_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("typed"); // what the field holds after typing input

        QTest::newRow("over 1000") << "1001" << int(QValidator::Invalid) << "100";
        QTest::newRow("far over") << "5000" << int(QValidator::Invalid) << "500";
        QTest::newRow("minus") << "-" << int(QValidator::Invalid) << "";
        QTest::newRow("1000") << "1000" << int(QValidator::Acceptable) << "1000";
        QTest::newRow("empty") << "" << int(QValidator::Intermediate) << "";
        QTest::newRow("group separator") << "1,000" << int(QValidator::Invalid) << "1000";
        QTest::newRow("plus sign") << "+5" << int(QValidator::Invalid) << "5";
        QTest::newRow("blank") << " 5" << int(QValidator::Invalid) << "5";
    }

    void waitTimeValidator()
    {
        QFETCH(QString, input);
        QFETCH(int, state);
        QFETCH(QString, typed);

        QWidget owner;
        SelectWaitTimeDialog dialog(&owner);
        auto *edit = dialog.findChild<QLineEdit *>("lineEdit");
        QVERIFY(edit && edit->validator());

        QString copy = input;
        int pos = 0;
        QCOMPARE(int(edit->validator()->validate(copy, pos)), state);

        QTest::keyClicks(edit, input);
        QCOMPARE(edit->text(), typed);
    }

    void waitTimeResult_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<int>("unitIndex");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("unit");

        QTest::newRow("empty, OK") << "" << 0 << "okButton" << 1 << 0 << "秒";
        QTest::newRow("5 minutes, OK") << "5" << 1 << "okButton" << 1 << 5 << "分";
        QTest::newRow("cancel") << "30" << 0 << "cancelButton" << 0 << 30 << "秒";
    }

    void waitTimeResult()
    {
        QFETCH(QString, number);
        QFETCH(int, unitIndex);
        QFETCH(QString, button);
        QFETCH(int, result);
        QFETCH(int, value);
        QFETCH(QString, unit);

        QWidget owner;
        SelectWaitTimeDialog dialog(&owner);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("设置延时时间"));
        QTest::keyClicks(dialog.findChild<QLineEdit *>("lineEdit"), number);
        dialog.findChild<QComboBox *>("comboBox")->setCurrentIndex(unitIndex);

        auto *pushButton = dialog.findChild<QPushButton *>(button);
        QVERIFY(pushButton);
        QTimer::singleShot(0, pushButton, &QPushButton::click);
        QCOMPARE(dialog.exec(), result);
        QCOMPARE(dialog.WaitValue(), value);
        QCOMPARE(dialog.WaitUnit(), unit);
    }

    void editedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("edited");

        // Untouched rows come back exactly (ends trimmed): text is plain text.
        QTest::newRow("blanks") << " \t\n  " << "";
        QTest::newRow("markup") << "<b>特价</b> 西瓜" << "<b>特价</b> 西瓜";
        QTest::newRow("entity") << "&lt;b&gt; & \" ' ]]>" << "&lt;b&gt; & \" ' ]]>";
        QTest::newRow("inner blanks and tab") << "买一  送一\t好" << "买一  送一\t好";
        QTest::newRow("carriage return") << "第一行\r第二行" << "第一行\r第二行";
        QTest::newRow("no-break space") << "特价\u00a0西瓜" << "特价\u00a0西瓜";
        QTest::newRow("emoji") << "🍉 特价" << "🍉 特价";
        QTest::newRow("cut to the limit") << QString(2500, QChar(0x4e00)) << QString(2000, QChar(0x4e00));
    }

    void editedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, edited);

        GetEditString dialog(text);
        QVERIFY(dialog.isWindow());
        QTimer::singleShot(0, dialog.findChild<QPushButton *>("okButton"), &QPushButton::click);
        QCOMPARE(dialog.exec(), 1);
        QCOMPARE(dialog.EditedText(), edited);
    }

    void editedTextKeepsTypedLinesAndTheLimit()
    {
        GetEditString dialog(QStringLiteral("旧"));
        auto *edit = dialog.findChild<QTextEdit *>("textEdit");
        edit->setPlainText(QStringLiteral(" 新\n第二行 "));
        QCOMPARE(dialog.EditedText(), QStringLiteral("新\n第二行"));
        edit->setPlainText(QString(2001, QLatin1Char('x')));
        QCOMPARE(dialog.EditedText().size(), 2000);
    }

    void editCloseRejects()
    {
        QWidget owner;
        GetEditString dialog(QStringLiteral("欢迎光临"), &owner);
        QVERIFY(dialog.parentWidget() == nullptr);
        QTimer::singleShot(0, &dialog, &QWidget::close);
        QCOMPARE(dialog.exec(), 0);
    }

    void messageBoxFreedOnClose_data()
    {
        QTest::addColumn<bool>("viaButton");
        QTest::newRow("button") << true;
        QTest::newRow("window close") << false;
    }

    void messageBoxFreedOnClose()
    {
        QFETCH(bool, viaButton);

        QPointer<MyMessageBox> box = new MyMessageBox(QStringLiteral("提示"), QStringLiteral("播放完毕"));
        box->show();
        QCOMPARE(box->windowTitle(), QStringLiteral("提示"));
        QCOMPARE(box->findChild<QLabel *>("label")->text(), QStringLiteral("播放完毕"));
        QCOMPARE(box->minimumSize(), QSize(360, 250));
        QCOMPARE(box->maximumSize(), QSize(360, 250));

        if (viaButton)
            QTest::mouseClick(box->findChild<QPushButton *>("pushButton"), Qt::LeftButton);
        else
            box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(box.isNull());
    }

    // A notice opens centred on the main window, and Enter or Esc closes it.
    void showNoticeCentredAndClosedByKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void showNoticeCentredAndClosedByKeys()
    {
        QFETCH(int, key);
        QMainWindow main;
        main.setGeometry(300, 200, 800, 600);
        main.show();
        MyMessageBox::ShowNotice(QStringLiteral("提示"), QStringLiteral("已保存"));
        QPointer<MyMessageBox> box;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *found = qobject_cast<MyMessageBox *>(w))
                box = found;
        QVERIFY(box && box->isVisible());
        QVERIFY((box->frameGeometry().center() - main.frameGeometry().center()).manhattanLength() < 20);
        QTest::keyClick(box.data(), Qt::Key(key));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(box.isNull());
    }

    // Every yes/no question answers no to Enter: "否" is the default.
    void confirmationDefaultsToNo()
    {
        AnswerNextDialog([](QWidget *box) { QTest::keyClick(box, Qt::Key_Return); });
        QVERIFY(!ConfirmWarning(QStringLiteral("请确认是否要删除所有记录？")));
    }

    // "播报记录": the days chosen (the last one whole), one source or all,
    // and the CSV written of exactly what is shown.
    void playedRecordsByDaysAndSource()
    {
        QTemporaryDir dir;
        PlayLog log(dir.filePath("played.sqlite"));
        const QDateTime morning(QDate(2026, 12, 24), QTime(8, 0));
        log.Record("", "早上好。", "timer", morning, morning.addSecs(3));
        log.Record("", "苹果三块五。", "price", morning.addSecs(3600), morning.addSecs(3605));
        log.Record("m-1", "十五分钟后闭店。", "chain", morning.addSecs(15 * 3600 + 59 * 60), morning.addSecs(16 * 3600));
        log.Record("", "欢迎光临。", "word", morning.addDays(1), morning.addDays(1).addSecs(2));
        PlayedDialog dialog(&log);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("播报记录"));
        const struct
        {
            int fromDay, toDay;
            const char *source;
            int shown;
        } cases[] = {{24, 24, "", 3}, {24, 25, "", 4}, {25, 25, "", 1}, {23, 23, "", 0}, {24, 25, "chain", 1}};
        for (const auto &c : cases) {
            dialog.SetSource(c.source);
            dialog.SetRange(QDate(2026, 12, c.fromDay), QDate(2026, 12, c.toDay));
            QCOMPARE(dialog.Shown(), c.shown);
        }
        const QAbstractItemModel *model = dialog.findChild<QTableView *>()->model();
        QCOMPARE(model->index(0, PlayedModel::ColumnSource).data().toString(), QStringLiteral("连锁总部"));
        QCOMPARE(model->index(0, PlayedModel::ColumnId).data().toString(), QStringLiteral("m-1"));
        QVERIFY(dialog.ExportTo(dir.filePath("out.csv")));
        const QByteArray csv = ReadFile(dir.filePath("out.csv"));
        QCOMPARE(csv.count("\r\n"), 2);
        QVERIFY(csv.contains("m-1,十五分钟后闭店。,chain,2026-12-24T23:59:00.000"));
        QVERIFY(!dialog.ExportTo(dir.filePath("no/such/folder/out.csv")));
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
