#include "uTamrelWidgets.h"

#include <QGridLayout>
#include <QRadioButton>

TRadioGroup::TRadioGroup(const QString &Title, const QStringList &Items, int Columns, QWidget *Parent)
    : QGroupBox(Title, Parent), FGroup(new QButtonGroup(this)) {
    auto *L = new QGridLayout(this);
    L->setContentsMargins(6, 2, 6, 2);
    L->setVerticalSpacing(0);
    const int Cols = qMax(1, Columns);
    for (int i = 0; i < Items.size(); ++i) {
        auto *B = new QRadioButton(Items[i], this);
        FGroup->addButton(B, i);
        FButtons.append(B);
        L->addWidget(B, i / Cols, i % Cols);
    }
    connect(FGroup, &QButtonGroup::idClicked, this, [this](int) {
        if (OnClick) OnClick();
    });
}

int TRadioGroup::ItemIndex() const {
    return FGroup->checkedId();
}

void TRadioGroup::SetItemIndex(int Index) {
    const int Old = ItemIndex();
    if (Index >= 0 && Index < FButtons.size()) {
        FButtons[Index]->setChecked(true);
    } else if (QAbstractButton *Checked = FGroup->checkedButton()) {
        // An exclusive group refuses to uncheck its last button.
        FGroup->setExclusive(false);
        Checked->setChecked(false);
        FGroup->setExclusive(true);
    }
    if (ItemIndex() != Old && OnClick) OnClick();
}

void TRadioGroup::SetItemText(int Index, const QString &Text) {
    FButtons.at(Index)->setText(Text);
}
