#include "uTamrelWidgets.h"

#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString &title, const QStringList &items, int columns, QWidget *parent)
    : QGroupBox(title, parent), FGroup(new QButtonGroup(this)) {
    auto *l = new QGridLayout(this);
    l->setContentsMargins(6, 2, 6, 2);
    l->setVerticalSpacing(0);
    const int cols = qMax(1, columns);
    for (int i = 0; i < items.size(); ++i) {
        auto *b = new QRadioButton(items[i], this);
        FGroup->addButton(b, i);
        FButtons.append(b);
        l->addWidget(b, i / cols, i % cols);
    }
    connect(FGroup, &QButtonGroup::idClicked, this, [this](int) {
        if (OnClick) OnClick();
    });
}

int TRadioGroup::ItemIndex() const {
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    const int old = ItemIndex();
    if (index >= 0 && index < FButtons.size()) {
        FButtons[index]->setChecked(true);
    } else if (QAbstractButton *checked = FGroup->checkedButton()) {
        // An exclusive group refuses to uncheck its last button.
        FGroup->setExclusive(false);
        checked->setChecked(false);
        FGroup->setExclusive(true);
    }
    if (ItemIndex() != old && OnClick) OnClick();
}

void TRadioGroup::SetItemText(int index, const QString &text) {
    FButtons.at(index)->setText(text);
}
