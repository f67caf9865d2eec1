#pragma once
// A titled group of radio buttons that reports its selected item like a list (index, -1 = none).
#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>
#include <functional>

// A group of radio buttons laid out in columns. OnClick runs when the user picks an item and
// when SetItemIndex changes the selection, so a value shown from the device takes the same
// path as a user's choice.
class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    TRadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent = nullptr);

    int ItemIndex() const;
    // An index outside the items leaves no item selected.
    void SetItemIndex(int index);
    int Count() const { return int(FButtons.size()); }
    QAbstractButton *Item(int index) const { return FButtons.at(index); }
    void SetItemText(int index, const QString &text);

    std::function<void()> OnClick;

private:
    QButtonGroup *FGroup;
    QList<QAbstractButton *> FButtons;
};
