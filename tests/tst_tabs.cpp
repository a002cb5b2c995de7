#include "DialogDriver.h"
#include "TestEnvironment.h"
#include "app/Parlivo.h"
#include "modes/PriceMode.h"
#include "core/AppPaths.h"
#include "modes/MyMessageBox.h"
#include "shop/PriceListModel.h"
#include "shop/Shop.h"
#include "shop/ShopSettings.h"
#include "shop/WordListModel.h"
#include "shop/WordPlayer.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QtTest>

#include <memory>

// The tabs as staff use them: what is typed is in the shop's lists (and in
// the files) however the editing ends, and what only the window holds
// stays the window's.
class TestTabs : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Shop> m_shop;
    std::unique_ptr<Parlivo> m_window;

    void Open()
    {
        m_shop = std::make_unique<Shop>();
        m_window = std::make_unique<Parlivo>(m_shop.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void Close()
    {
        m_window->close();
        m_window.reset();
        m_shop.reset();
    }
    QTableView *PriceTable() const
    {
        m_window->findChild<QTabWidget *>("tabWidget")->setCurrentIndex(1);
        return m_window->PricePage()->findChild<QTableView *>("tableView");
    }
    // Opens the cell's editor as a double-click does.
    QWidget *OpenEditor(int row, int column)
    {
        QTableView *table = PriceTable();
        const QModelIndex index = table->model()->index(row, column);
        table->setCurrentIndex(index);
        table->edit(index);
        QApplication::processEvents();
        const QList<QWidget *> editors = table->viewport()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        return editors.isEmpty() ? nullptr : editors.last();
    }

private slots:
    void initTestCase()
    {
        IsolateUserDirs();
        ShopSettings::UseFilePath(IsolateUserDirs().path() + "/settings.xml");
        MyMessageBox::ShowRaisedNotices();
        QDir().mkpath(AppPaths::DataDir());
    }
    void cleanup()
    {
        if (m_window)
            Close();
        CloseNotices();
    }

    // A price typed into an open cell without Return, and a unit picked in
    // the combo, are in price.xml after Ctrl+S and after quitting.
    void openEditorsAreNeverLost()
    {
        QVERIFY(WriteFile(PriceListModel::FilePath(),
                          "<PriceRecords recycle=\"true\"><record name=\"西瓜\" price=\"1.98\" unit=\"一斤\"/></PriceRecords>"));
        Open();
        auto *price = qobject_cast<QLineEdit *>(OpenEditor(0, PriceListModel::ColumnPrice));
        QVERIFY(price);
        price->selectAll();
        QTest::keyClicks(price, "2.35");
        QTest::keyClick(price, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(ReadFile(PriceListModel::FilePath()).contains("price=\"2.35\""), ReadFile(PriceListModel::FilePath()));
        QTest::keyClicks(price, "5"); // not valid: the pattern refuses it, nothing changes
        QVERIFY(price->text() == "2.35");

        auto *unit = qobject_cast<QComboBox *>(OpenEditor(0, PriceListModel::ColumnUnit));
        QVERIFY(unit);
        unit->setCurrentIndex(unit->findText(QStringLiteral("一打")));
        QVERIFY(unit->hasFocus() || unit->isVisible());
        Close(); // straight out, the editor still open
        const QByteArray saved = ReadFile(PriceListModel::FilePath());
        QVERIFY2(saved.contains("price=\"2.35\" unit=\"一打\""), saved);

        Open(); // and typed, not Returned, just before the window closes
        price = qobject_cast<QLineEdit *>(OpenEditor(0, PriceListModel::ColumnPrice));
        price->selectAll();
        QTest::keyClicks(price, "9.9");
        Close();
        QVERIFY(ReadFile(PriceListModel::FilePath()).contains("price=\"9.9\""));
    }

    // Play from outside (as a phone's 播放) plays the list from its row in
    // hand; half-typed text in the input line is neither spoken nor taken.
    void remotePlayLeavesTheInputLineAlone()
    {
        QVERIFY(WriteFile(WordListModel::FilePath(), "<records recycle=\"false\"><record>甲</record><record>乙</record></records>"));
        Open();
        auto *input = m_window->findChild<QLineEdit *>("lineEdit_PlayContent");
        input->setText(QStringLiteral("半截的文"));
        QSignalSpy out(m_shop->WordLoop(), &WordPlayer::OutAudio);
        QVERIFY(m_shop->PlayMode(Shop::Mode::Word));
        QCOMPARE(out.first().at(2).toString(), WordPlayer::Spoken(QStringLiteral("甲")));
        for (const QList<QVariant> &request : out)
            QVERIFY(!request.at(2).toString().contains(QStringLiteral("半截")));
        QCOMPARE(input->text(), QStringLiteral("半截的文"));
        QCOMPARE(m_shop->Words()->List().Texts(), QStringList({"甲", "乙"}));

        // Return makes it a row, read at once.
        m_shop->PauseMode(Shop::Mode::Word);
        QTest::keyClick(input, Qt::Key_Return);
        QCOMPARE(m_shop->Words()->List().Texts(), QStringList({"甲", "乙", "半截的文"}));
        QVERIFY(input->text().isEmpty());
    }
};

QTEST_MAIN(TestTabs)
#include "tst_tabs.moc"
