#pragma once

#include <QWidget>

#include <memory>

class PriceListModel;
class PricePlayer;
class Shop;
namespace Ui {
class PriceModeClass;
}

// The price tab: a view and editor of the shop's price list and its loop.
// Goods are edited in place; every keystroke of an open editor and every
// unit picked reaches the list at once, so a save or a quit never loses
// what is typed. Text rows are edited in their own dialog.
class PriceMode : public QWidget
{
    Q_OBJECT

public:
    PriceMode(Shop *shop, QWidget *parent = nullptr);
    ~PriceMode() override;

public slots:
    void DelItem();
    void DelAll();
    void InsertRow();
    void InsertTextRow();
    void InsertWait();
    void SaveFile();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void DoubleClicked(const QModelIndex &index);
    void ShowSpans();
    void ShowState(int state);
    void ShowCursor(int row);
    int CurrentRow() const;
    void SelectRow(int row);

    std::unique_ptr<Ui::PriceModeClass> ui;
    PriceListModel *m_list;
    PricePlayer *m_player;
    int m_lastTableWidth = 0;
};
