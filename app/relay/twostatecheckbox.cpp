#include "app/relay/twostatecheckbox.h"

void TwoStateCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
}
