#pragma once

#include <QCheckBox>

// A check box that code may set to the third (greyed) state, as a stored
// value of 2 does, while the user's clicks still only ever check or
// uncheck it.
class TwoStateCheckBox : public QCheckBox
{
    Q_OBJECT

public:
    using QCheckBox::QCheckBox;

protected:
    void nextCheckState() override;
};
