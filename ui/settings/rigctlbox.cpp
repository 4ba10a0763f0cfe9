#include "ui/settings/rigctlbox.h"

#include "core/rigctlkeying.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

RigctlBox::RigctlBox(QWidget *parent)
    : QGroupBox(QStringLiteral("Programs that key the transmitter"), parent)
{
    auto *layout = new QFormLayout(this);
    auto *intro = new QLabel(QStringLiteral(
        "Digital-mode and logging programs can key the chain as the footswitch does: choose "
        "\"Hamlib NET rigctl\" in the program, with this address. Everything but PTT goes on to the "
        "radio at the end of the chain when rigctld reaches it."));
    intro->setWordWrap(true);
    layout->addRow(intro);
    m_address = new QLineEdit;
    m_address->setObjectName(QStringLiteral("rigctlServer"));
    m_address->setPlaceholderText(QStringLiteral("Off, or HOST:PORT such as 127.0.0.1:4534"));
    layout->addRow(QStringLiteral("rigctl server:"), m_address);
    m_message = new QLabel;
    m_message->setObjectName(QStringLiteral("rigctlServerMessage"));
    m_message->setWordWrap(true);
    m_message->setStyleSheet(QStringLiteral("color: #b00000;"));
    m_message->hide();
    layout->addRow(m_message);
    connect(m_address, &QLineEdit::textChanged, this, &RigctlBox::updateMessage);
}

QString RigctlBox::value() const
{
    const RigctlKeying::Address address = RigctlKeying::address(m_address->text());
    return address.hostAndPort.value_or(RigctlKeying::off);
}

void RigctlBox::setValue(const QString &stored)
{
    const RigctlKeying::Address address = RigctlKeying::address(stored);
    m_address->setText(address.problem.isEmpty() ? address.hostAndPort.value_or(RigctlKeying::off) : stored);
    updateMessage();
}

bool RigctlBox::isValid() const
{
    return m_valid;
}

void RigctlBox::updateMessage()
{
    const RigctlKeying::Address address = RigctlKeying::address(m_address->text());
    const QString message =
        address.problem.isEmpty() ? RigctlKeying::exposureWarning(address.hostAndPort.value_or(QString())) : address.problem;
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
    if (address.problem.isEmpty() != m_valid) {
        m_valid = address.problem.isEmpty();
        emit validityChanged();
    }
}
