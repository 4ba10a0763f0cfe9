#pragma once

#include "core/sequencesettings.h"

#include <QGroupBox>

#include <functional>
#include <optional>

class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class RigModelChooser;
class RigModelList;

// One output after the first: a serial line (a port number's RTS or DTR) or
// a radio keyed by CAT through Hamlib, with its lead and tail. A CAT output
// shows why its rig port cannot be used, and what no software here can do
// for a radio keyed that way.
class OutputRow : public QGroupBox
{
    Q_OBJECT

public:
    // `number` is the output's place in the sequence, 2 to 4.
    OutputRow(int number, RigModelList &rigModels, QWidget *parent = nullptr);

    SequenceSettings::Output value() const;
    void setValue(const SequenceSettings::Output &output);
    bool isValid() const { return m_valid; }
    // Why a serial output cannot be where it is set (a supply on its port),
    // asked again whenever the row or the page changes.
    void setClashCheck(std::function<std::optional<QString>(const SequenceSettings::Output &)> check)
    {
        m_clashCheck = std::move(check);
    }
    void updateFields();
    // The last output's lead and tail wait for nothing: shown, not editable.
    void setLast(bool last);

    // The columns of every output's grid, output 1's too: the lead and tail
    // stand on the right in each, so that they line up from one to the next.
    enum Column { Caption, Field, SecondCaption, SecondField, Stretch, LeadCaption, Lead, TailCaption, Tail, Remove,
                  Columns };
    static QSpinBox *timingBox(const QString &objectName, bool lead);
    // Lead, tail and the remove button in the first row of `grid`.
    static void addTimingColumns(QGridLayout *grid, QSpinBox *lead, QSpinBox *tail, QPushButton *remove);
    // What the time-out and the release walk cannot do for a radio keyed by
    // CAT; shown beside every CAT output.
    static QString catSafetyText();

signals:
    void validityChanged();
    void removeClicked();

private:
    SequenceSettings::Output::Kind kind() const;
    bool isRigctld() const;

    QComboBox *m_kind = nullptr;
    QSpinBox *m_lead = nullptr;
    QSpinBox *m_tail = nullptr;
    QComboBox *m_port = nullptr;
    QComboBox *m_line = nullptr;
    RigModelChooser *m_rig = nullptr;
    QLineEdit *m_device = nullptr;
    QComboBox *m_baud = nullptr;
    QLineEdit *m_address = nullptr;
    QLabel *m_note = nullptr;
    // Shown for one kind, or for one sort of rig port, with their captions.
    QList<QWidget *> m_serialFields;
    QList<QWidget *> m_catFields;
    QList<QWidget *> m_deviceFields;
    QList<QWidget *> m_rigctldFields;
    bool m_valid = true;
    std::function<std::optional<QString>(const SequenceSettings::Output &)> m_clashCheck;
};
