#include "ui/settings/sequencepage.h"

#include "ui/settings/inhibitbox.h"
#include "ui/settings/rigctlbox.h"
#include "ui/settings/outputrow.h"

#include "core/relaysettings.h"
#include "core/rigctlkeying.h"
#include "platform/storage/settingsstore.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QVBoxLayout>

using SequenceSettings::Output;

SequencePage::SequencePage(QWidget *parent)
    : QWidget(parent)
{
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    auto *intro = new QLabel(QStringLiteral(
        "More outputs can be keyed with the first: a preamplifier relay, an amplifier, the radio. A press "
        "keys them in order, each after the lead of the one before; a release lets them go in reverse, "
        "each after the tail of the one after it. The last output's lead and tail wait for nothing."));
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto *first = new QGroupBox(QStringLiteral("Output 1"));
    auto *firstGrid = new QGridLayout(first);
    auto *firstText = new QLabel(QStringLiteral("Com Port Out of the main window, on the relay line of page Keying"));
    firstText->setObjectName(QStringLiteral("output1Text"));
    m_firstLead = OutputRow::timingBox(QStringLiteral("output1Lead"), true);
    m_firstTail = OutputRow::timingBox(QStringLiteral("output1Tail"), false);
    // Holds the place of the other outputs' remove buttons.
    auto *noRemove = new QPushButton(QStringLiteral("Remove"));
    QSizePolicy keepSpace = noRemove->sizePolicy();
    keepSpace.setRetainSizeWhenHidden(true);
    noRemove->setSizePolicy(keepSpace);
    noRemove->hide();
    OutputRow::addTimingColumns(firstGrid, m_firstLead, m_firstTail, noRemove);
    firstGrid->addWidget(firstText, 0, OutputRow::Caption, 1, OutputRow::Stretch);
    layout->addWidget(first);

    for (int number = 2; number <= SequenceSettings::maxOutputs; ++number) {
        auto *row = new OutputRow(number, m_rigModels);
        row->setObjectName(QStringLiteral("output%1").arg(number));
        const int index = number - 2;
        connect(row, &OutputRow::validityChanged, this, &SequencePage::updateValidity);
        row->setClashCheck([this](const SequenceSettings::Output &output) {
            return SequenceSettings::supplyClash(output, m_footswitchPort, m_inhibit->value());
        });
        connect(row, &OutputRow::removeClicked, this, [this, index] { removeOutput(index); });
        layout->addWidget(row);
        m_rows.append(row);
    }

    m_add = new QPushButton(QStringLiteral("&Add output"));
    m_add->setObjectName(QStringLiteral("addOutput"));
    m_add->setToolTip(QStringLiteral("Adds an output after the last, up to %1 in all.").arg(SequenceSettings::maxOutputs));
    auto *addLayout = new QHBoxLayout;
    addLayout->addWidget(m_add);
    addLayout->addStretch();
    layout->addLayout(addLayout);
    connect(m_add, &QPushButton::clicked, this, &SequencePage::addOutput);

    m_inhibit = new InhibitBox;
    layout->addWidget(m_inhibit);
    // The inhibit's port feeds its contact as the footswitch's does.
    connect(m_inhibit, &InhibitBox::changed, this, [this] {
        for (OutputRow *row : std::as_const(m_rows))
            row->updateFields();
    });
    m_rigctl = new RigctlBox;
    layout->addWidget(m_rigctl);
    connect(m_rigctl, &RigctlBox::validityChanged, this, &SequencePage::updateValidity);
    layout->addStretch();

    // Four outputs with radios on CAT are taller than the other pages.
    m_scroll = new QScrollArea;
    m_scroll->setWidget(content);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    auto *pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pageLayout->addWidget(m_scroll);

    setOutputCount(0);
}

void SequencePage::load(const SettingsStore &settings)
{
    const QString stored = settings.get(RelaySettings::comPortIn);
    m_footswitchPort = stored.isEmpty() ? RelaySettings::defaultPort : stored;
    setSequence(SequenceSettings::load(settings));
    m_rigctl->setValue(settings.get(RigctlKeying::settingKey));
    for (OutputRow *row : std::as_const(m_rows))
        row->updateFields();
}

void SequencePage::save(SettingsStore &settings) const
{
    SequenceSettings::save(settings, sequence());
    // Stored only once the user has set it: a file that never had it keeps
    // the default, and an unchanged "Off" is not written into every file.
    if (m_rigctl->value() != RigctlKeying::off || !settings.get(RigctlKeying::settingKey).isEmpty())
        settings.save(RigctlKeying::settingKey, m_rigctl->value());
}

bool SequencePage::isValid() const
{
    return m_valid;
}

QSize SequencePage::sizeHint() const
{
    const int scrollBar = m_scroll->verticalScrollBar()->sizeHint().width();
    const QSize content = m_scroll->widget()->sizeHint();
    return {content.width() + scrollBar, heightForWidth(content.width() + scrollBar)};
}

bool SequencePage::hasHeightForWidth() const
{
    return true;
}

int SequencePage::heightForWidth(int width) const
{
    // The window asks the pages for their height at its width, where the
    // wrapped texts take their lines.
    const QWidget *content = m_scroll->widget();
    const int wanted = content->heightForWidth(width - m_scroll->verticalScrollBar()->sizeHint().width());
    const int height = wanted >= 0 ? wanted : content->sizeHint().height();
    const QScreen *shown = screen();
    return shown ? qMin(height, shown->availableGeometry().height() * 2 / 3) : height;
}

SequenceSettings::Sequence SequencePage::sequence() const
{
    SequenceSettings::Sequence sequence;
    sequence.firstLeadMs = m_firstLead->value();
    sequence.firstTailMs = m_firstTail->value();
    for (int index = 0; index < m_count; ++index)
        sequence.more.append(m_rows.at(index)->value());
    sequence.inhibit = m_inhibit->value();
    return sequence;
}

void SequencePage::setSequence(const SequenceSettings::Sequence &sequence)
{
    m_firstLead->setValue(sequence.firstLeadMs);
    m_firstTail->setValue(sequence.firstTailMs);
    const int count = int(qMin(sequence.more.size(), m_rows.size()));
    for (int index = 0; index < count; ++index)
        m_rows.at(index)->setValue(sequence.more.at(index));
    setOutputCount(count);
    m_inhibit->setValue(sequence.inhibit);
}

void SequencePage::addOutput()
{
    if (m_count >= m_rows.size())
        return;
    m_rows.at(m_count)->setValue(Output{});
    setOutputCount(m_count + 1);
}

void SequencePage::removeOutput(int index)
{
    for (int later = index; later + 1 < m_count; ++later)
        m_rows.at(later)->setValue(m_rows.at(later + 1)->value());
    setOutputCount(m_count - 1);
}

void SequencePage::setOutputCount(int count)
{
    m_count = count;
    for (int index = 0; index < m_rows.size(); ++index) {
        m_rows.at(index)->setVisible(index < m_count);
        m_rows.at(index)->setLast(index == m_count - 1);
    }
    // Output 1's times matter only once another output follows it.
    m_firstLead->setEnabled(m_count > 0);
    m_firstTail->setEnabled(m_count > 0);
    m_add->setEnabled(m_count < m_rows.size());
    updateValidity();
}

void SequencePage::updateValidity()
{
    bool valid = !m_rigctl || m_rigctl->isValid();
    for (int index = 0; index < m_count; ++index)
        valid = valid && m_rows.at(index)->isValid();
    if (valid != m_valid) {
        m_valid = valid;
        emit validityChanged();
    }
}
