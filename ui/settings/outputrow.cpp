#include "ui/settings/outputrow.h"

#include "core/stationsettings.h"
#include "ui/settings/rigmodelchooser.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using SequenceSettings::Output;
using StationSettings::RelayLine;

namespace {

QLabel *caption(const QString &text, QWidget *buddy)
{
    auto *label = new QLabel(text);
    label->setBuddy(buddy);
    return label;
}

} // namespace

OutputRow::OutputRow(int number, RigModelList &rigModels, QWidget *parent)
    : QGroupBox(QStringLiteral("Output %1").arg(number), parent)
{
    const QString name = QStringLiteral("output%1").arg(number);

    m_kind = new QComboBox;
    m_kind->setObjectName(name + QStringLiteral("Kind"));
    m_kind->addItem(QStringLiteral("Serial line"), int(Output::Kind::Serial));
    m_kind->addItem(QStringLiteral("Radio by CAT"), int(Output::Kind::Cat));
    m_kind->setToolTip(QStringLiteral("A relay on RTS or DTR of a port, or a radio keyed through Hamlib."));
    m_lead = timingBox(name + QStringLiteral("Lead"), true);
    m_tail = timingBox(name + QStringLiteral("Tail"), false);
    auto *remove = new QPushButton(QStringLiteral("Remove"));
    remove->setObjectName(name + QStringLiteral("Remove"));
    remove->setToolTip(QStringLiteral("Takes this output out; the ones after it move up."));

    m_port = new QComboBox;
    m_port->setObjectName(name + QStringLiteral("Port"));
    for (int port = StationSettings::firstPort; port <= StationSettings::lastPort; ++port)
        m_port->addItem(QStringLiteral("Com%1").arg(port), QString::number(port));
    m_line = new QComboBox;
    m_line->setObjectName(name + QStringLiteral("Line"));
    m_line->addItem(QStringLiteral("RTS (pin 7)"), int(RelayLine::Rts));
    m_line->addItem(QStringLiteral("DTR (pin 4)"), int(RelayLine::Dtr));

    m_rig = new RigModelChooser(rigModels, name + QStringLiteral("Rig"));
    m_device = new QLineEdit;
    m_device->setObjectName(name + QStringLiteral("RigDevice"));
    m_device->setPlaceholderText(QStringLiteral("/dev/ttyUSB0"));
    m_device->setToolTip(QStringLiteral("The radio's CAT port: a serial device, by its full path."));
    m_baud = new QComboBox;
    m_baud->setObjectName(name + QStringLiteral("RigBaud"));
    m_baud->addItem(QStringLiteral("Model's default"), 0);
    for (int baud : {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200})
        m_baud->addItem(QString::number(baud), baud);
    m_address = new QLineEdit;
    m_address->setObjectName(name + QStringLiteral("RigAddress"));
    m_address->setPlaceholderText(QStringLiteral("localhost:%1").arg(RigAddress::defaultRigctldPort));
    m_address->setToolTip(QStringLiteral("HOST:PORT of the rigctld that drives the radio; port %1 when none is given.")
                              .arg(RigAddress::defaultRigctldPort));
    // Room for a by-id device name or a host name without scrolling.
    const int entryWidth = m_device->fontMetrics().averageCharWidth() * 40;
    m_device->setMinimumWidth(entryWidth);
    m_address->setMinimumWidth(entryWidth);
    m_note = new QLabel;
    m_note->setObjectName(name + QStringLiteral("Note"));
    m_note->setWordWrap(true);
    m_note->setStyleSheet(QStringLiteral("color: #b00020;"));
    auto *safety = new QLabel(catSafetyText());
    safety->setObjectName(name + QStringLiteral("CatSafety"));
    safety->setWordWrap(true);

    auto *grid = new QGridLayout(this);
    addTimingColumns(grid, m_lead, m_tail, remove);
    grid->addWidget(caption(QStringLiteral("Kind:"), m_kind), 0, Caption);
    grid->addWidget(m_kind, 0, Field);

    auto *portCaption = caption(QStringLiteral("Port:"), m_port);
    auto *lineCaption = caption(QStringLiteral("Line:"), m_line);
    grid->addWidget(portCaption, 1, Caption);
    grid->addWidget(m_port, 1, Field);
    grid->addWidget(lineCaption, 1, SecondCaption);
    grid->addWidget(m_line, 1, SecondField);
    m_serialFields = {portCaption, m_port, lineCaption, m_line};

    auto *rigCaption = caption(QStringLiteral("Radio:"), m_rig);
    auto *deviceCaption = caption(QStringLiteral("Device:"), m_device);
    auto *baudCaption = caption(QStringLiteral("Baud:"), m_baud);
    auto *addressCaption = caption(QStringLiteral("rigctld:"), m_address);
    grid->addWidget(rigCaption, 2, Caption);
    grid->addWidget(m_rig, 2, Field, 1, Columns - Field);
    grid->addWidget(deviceCaption, 3, Caption);
    grid->addWidget(m_device, 3, Field, 1, LeadCaption - Field);
    grid->addWidget(baudCaption, 3, LeadCaption);
    grid->addWidget(m_baud, 3, Lead, 1, Remove - Lead);
    grid->addWidget(addressCaption, 4, Caption);
    grid->addWidget(m_address, 4, Field, 1, Stretch - Field);
    grid->addWidget(m_note, 5, Field, 1, Columns - Field);
    grid->addWidget(safety, 6, Caption, 1, Columns);
    m_catFields = {rigCaption, m_rig, m_note, safety};
    m_deviceFields = {deviceCaption, m_device, baudCaption, m_baud};
    m_rigctldFields = {addressCaption, m_address};
    // The same caption width in every output, whichever captions it shows,
    // so that the fields start at one place down the page.
    int captionWidth = 0;
    for (const QLabel *label : {portCaption, lineCaption, rigCaption, deviceCaption, addressCaption})
        captionWidth = qMax(captionWidth, label->sizeHint().width());
    grid->setColumnMinimumWidth(Caption, captionWidth);

    connect(remove, &QPushButton::clicked, this, &OutputRow::removeClicked);
    connect(m_kind, &QComboBox::currentIndexChanged, this, &OutputRow::updateFields);
    connect(m_rig, &RigModelChooser::rigModelChanged, this, &OutputRow::updateFields);
    connect(m_device, &QLineEdit::textChanged, this, &OutputRow::updateFields);
    connect(m_address, &QLineEdit::textChanged, this, &OutputRow::updateFields);
    connect(m_port, &QComboBox::currentIndexChanged, this, &OutputRow::updateFields);
    updateFields();
}

void OutputRow::addTimingColumns(QGridLayout *grid, QSpinBox *lead, QSpinBox *tail, QPushButton *remove)
{
    grid->setColumnStretch(Stretch, 1);
    grid->addWidget(caption(QStringLiteral("Lead:"), lead), 0, LeadCaption);
    grid->addWidget(lead, 0, Lead);
    grid->addWidget(caption(QStringLiteral("Tail:"), tail), 0, TailCaption);
    grid->addWidget(tail, 0, Tail);
    grid->addWidget(remove, 0, Remove);
}

QSpinBox *OutputRow::timingBox(const QString &objectName, bool lead)
{
    auto *box = new QSpinBox;
    box->setObjectName(objectName);
    box->setRange(0, SequenceSettings::maxTimingMs);
    box->setSingleStep(10);
    box->setSuffix(QStringLiteral(" ms"));
    box->setToolTip(lead ? QStringLiteral("How long the next output waits after this one keys, 0 to %1 ms.")
                               .arg(SequenceSettings::maxTimingMs)
                         : QStringLiteral("How long this output stays keyed after the next one released, 0 to %1 ms.")
                               .arg(SequenceSettings::maxTimingMs));
    return box;
}

QString OutputRow::catSafetyText()
{
    return QStringLiteral(
        "A radio keyed by CAT is released by the time-out and by every release of the outputs, but not when "
        "this program crashes or freezes: no CAT command can be sent from a crash handler, and rigctld keeps "
        "PTT on when its client dies. Set the radio's own transmit time-out timer.");
}

Output OutputRow::value() const
{
    // Only the fields of its kind; the others keep their defaults, as the
    // file holds none for them.
    Output output;
    output.kind = kind();
    output.leadMs = m_lead->value();
    output.tailMs = m_tail->value();
    if (output.kind == Output::Kind::Serial) {
        output.port = m_port->currentData().toString();
        output.line = RelayLine(m_line->currentData().toInt());
    } else {
        output.rig.model = m_rig->rigModel();
        output.rig.port = (isRigctld() ? m_address : m_device)->text().trimmed();
        output.rig.baud = isRigctld() ? 0 : m_baud->currentData().toInt();
    }
    return output;
}

void OutputRow::setValue(const Output &output)
{
    m_kind->setCurrentIndex(m_kind->findData(int(output.kind)));
    m_lead->setValue(output.leadMs);
    m_tail->setValue(output.tailMs);
    m_port->setCurrentIndex(qMax(0, m_port->findData(output.port)));
    m_line->setCurrentIndex(m_line->findData(int(output.line)));
    if (output.kind == Output::Kind::Cat) {
        // Hamlib's list is read only for a radio on CAT.
        m_rig->setRigModel(output.rig.model);
        const bool rigctld = output.rig.model == RigAddress::rigctldModel;
        m_address->setText(rigctld ? output.rig.port : QString());
        m_device->setText(rigctld ? QString() : output.rig.port);
        // A long by-id name shows where it starts, not where it ends.
        m_device->setCursorPosition(0);
        if (m_baud->findData(output.rig.baud) < 0)
            m_baud->addItem(QString::number(output.rig.baud), output.rig.baud);
        m_baud->setCurrentIndex(m_baud->findData(output.rig.baud));
    }
    updateFields();
}

void OutputRow::setLast(bool last)
{
    m_lead->setEnabled(!last);
    m_tail->setEnabled(!last);
}

Output::Kind OutputRow::kind() const
{
    return Output::Kind(m_kind->currentData().toInt());
}

bool OutputRow::isRigctld() const
{
    return m_rig->rigModel() == RigAddress::rigctldModel;
}

void OutputRow::updateFields()
{
    const bool cat = kind() == Output::Kind::Cat;
    for (QWidget *field : std::as_const(m_serialFields))
        field->setVisible(!cat);
    for (QWidget *field : std::as_const(m_catFields))
        field->setVisible(cat);
    for (QWidget *field : std::as_const(m_deviceFields))
        field->setVisible(cat && !isRigctld());
    for (QWidget *field : std::as_const(m_rigctldFields))
        field->setVisible(cat && isRigctld());

    std::optional<QString> error = cat ? SequenceSettings::rigPortError(value().rig) : std::nullopt;
    if (!cat && m_clashCheck)
        error = m_clashCheck(value());
    m_note->setText(error.value_or(QString()));
    m_note->setVisible(error.has_value());
    if (error.has_value() == m_valid) {
        m_valid = !error;
        emit validityChanged();
    }
}
