#pragma once

#include <QMainWindow>

#include <memory>

class Shop;
class SimplePlay;
class PriceMode;
class TimerMode;
class Settings;
class RemoteControl;
class ChainRoad;
namespace Ui {
class ParlivoClass;
}

// The main window: the four tabs over the shop (which it does not own),
// and the remote interface.
class Parlivo : public QMainWindow
{
    Q_OBJECT

public:
    explicit Parlivo(Shop *shop, QWidget *parent = nullptr);
    ~Parlivo() override;

    static QString WindowTitle();
    static QString AboutText();
    // Left 1/2 of the free width, 30 from the top, the available height less 50.
    static QRect StartGeometry(const QRect &available, int width);

    Shop *TheShop() const { return m_shop; }
    SimplePlay *WordMode() const { return m_simplePlay; }
    PriceMode *PricePage() const { return m_priceMode; }
    TimerMode *TimerPage() const { return m_timerMode; }
    Settings *SettingsPage() const { return m_settings; }
    RemoteControl *Remote() const { return m_remote; }
    ChainRoad *Chain() const { return m_chain; }

public slots:
    void ShowAbout();
    // Starts, moves or stops the remote control interface as the settings say.
    void ApplyRemoteSettings();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void AddTab(QWidget *page, const QString &icon, const QString &label);

    std::unique_ptr<Ui::ParlivoClass> ui;
    Shop *m_shop;
    SimplePlay *m_simplePlay = nullptr;
    PriceMode *m_priceMode = nullptr;
    TimerMode *m_timerMode = nullptr;
    Settings *m_settings = nullptr;
    RemoteControl *m_remote = nullptr;
    ChainRoad *m_chain = nullptr;
};
