#pragma once

#include <QCheckBox>

// The always-on-top box. Its value is the number that the settings store
// keeps: 0 unchecked, 1 checked, 2 greyed (Qt numbers these differently).
// Code may set the greyed value, as a stored "2" does, while the user's
// clicks still only ever check or uncheck the box.
class TwoStateCheckBox : public QCheckBox
{
    Q_OBJECT

public:
    using QCheckBox::QCheckBox;

    int value() const;
    void setValue(int value);

protected:
    void nextCheckState() override;
};
