#include "ui/mainwindow/twostatecheckbox.h"

int TwoStateCheckBox::value() const
{
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void TwoStateCheckBox::setValue(int value)
{
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

void TwoStateCheckBox::nextCheckState()
{
    // Greyed counts as not on top, so a click from there turns it on.
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
