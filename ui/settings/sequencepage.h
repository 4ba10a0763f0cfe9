#pragma once

#include "core/sequencesettings.h"
#include "ui/settings/rigmodelchooser.h"

#include <QWidget>

class InhibitBox;
class OutputRow;
class RigctlBox;
class QPushButton;
class QScrollArea;
class QSpinBox;
class SettingsStore;

// The outputs keyed in sequence and the transmit inhibit input. Output 1 is
// the main window's output port on its relay line; up to three more follow
// it, each a serial line or a radio keyed by CAT. Keying walks 1 -> N, each
// output's lead before the next; releasing walks N -> 1, each output's tail
// after the next one released.
class SequencePage : public QWidget
{
    Q_OBJECT

public:
    explicit SequencePage(QWidget *parent = nullptr);

    void load(const SettingsStore &settings);
    void save(SettingsStore &settings) const;
    bool isValid() const;

    SequenceSettings::Sequence sequence() const;
    void setSequence(const SequenceSettings::Sequence &sequence);

    // As tall as its outputs, as far as two thirds of the screen allow: the
    // window opens showing them all rather than a scroll bar.
    QSize sizeHint() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;

signals:
    void validityChanged();

private:
    void addOutput();
    void removeOutput(int index);
    void setOutputCount(int count);
    void updateValidity();

    // Declared first: the rows' choosers read it.
    RigModelList m_rigModels;
    QSpinBox *m_firstLead = nullptr;
    QSpinBox *m_firstTail = nullptr;
    // All of outputs 2 to 4; the first m_count are in use and shown.
    QList<OutputRow *> m_rows;
    int m_count = 0;
    QPushButton *m_add = nullptr;
    QScrollArea *m_scroll = nullptr;
    InhibitBox *m_inhibit = nullptr;
    RigctlBox *m_rigctl = nullptr;
    bool m_valid = true;
    // The footswitch's port as stored: its supply must not key an output.
    QString m_footswitchPort;
};
