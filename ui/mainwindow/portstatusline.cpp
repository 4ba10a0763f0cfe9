#include "ui/mainwindow/portstatusline.h"

#include <QFileInfo>
#include <QUrl>

namespace {

constexpr int MaxShortDevice = 16;

QString portText(const QString &direction, const PortStatusLine::Port &port, const QString &device)
{
    // A radio by CAT has no port number: its address says what it is.
    const QString name = port.number.isEmpty() ? device : QStringLiteral("Com%1 %2").arg(port.number, device);
    return QStringLiteral("%1 %2: %3").arg(direction, name, PortStatusLine::stateText(port.state, port.retries));
}

} // namespace

PortStatusLine::PortStatusLine(QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("PortStatusLine"));
    setTextFormat(Qt::PlainText);
    // Elided by hand below: the window does not widen for a long device name.
    setMinimumWidth(1);
}

QString PortStatusLine::shortDevice(const QString &location)
{
    if (location.startsWith(QLatin1String("CAT ")))
        return location;
    if (location.contains(QLatin1String("://"))) {
        const QUrl url(location);
        if (url.isValid() && !url.host().isEmpty())
            return QStringLiteral("%1:%2").arg(url.host()).arg(url.port());
        return location.left(MaxShortDevice);
    }
    const QString name = QFileInfo(location).fileName();
    if (name.size() <= MaxShortDevice)
        return name;
    return name.left(MaxShortDevice - 1) + QChar(0x2026);
}

QString PortStatusLine::stateText(PortSupervisor::State state, int retries)
{
    using State = PortSupervisor::State;
    switch (state) {
    case State::Closed:
        return QStringLiteral("closed");
    case State::Connecting:
        return QStringLiteral("connecting");
    case State::Ready:
        return QStringLiteral("ready");
    case State::NotAvailable:
        return retries > 0 ? QStringLiteral("not available – retry %1").arg(retries)
                           : QStringLiteral("not available – retrying");
    case State::NoPermission:
        return retries > 0 ? QStringLiteral("no permission – retry %1").arg(retries)
                           : QStringLiteral("no permission – retrying");
    case State::Lost:
        return retries > 0 ? QStringLiteral("lost – retry %1").arg(retries) : QStringLiteral("lost – retrying");
    }
    return {};
}

void PortStatusLine::showPorts(const Port &input, const Port &output, const QList<Port> &moreOutputs,
                               const QString &walk)
{
    // One row for the input and one for the outputs: in a narrow window the
    // states stay readable. Every output has a row of its own above the
    // line, so the outputs after the first are only in the tooltip.
    const auto rows = [&](bool inFull) {
        const auto device = [inFull](const Port &port) { return inFull ? port.location : shortDevice(port.location); };
        QString outputs = portText(QStringLiteral("Out"), output, device(output));
        for (qsizetype i = 0; inFull && i < moreOutputs.size(); ++i)
            outputs += QStringLiteral(" · ") + portText(QString::number(i + 2), moreOutputs.at(i), device(moreOutputs.at(i)));
        if (!walk.isEmpty())
            outputs = walk + QLatin1Char(' ') + outputs;
        return portText(QStringLiteral("In"), input, device(input)) + QLatin1Char('\n') + outputs;
    };
    m_ports = rows(false);
    m_portsInFull = rows(true);
    refresh();
}

void PortStatusLine::setNotice(const QString &notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    refresh();
}

void PortStatusLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    refresh();
}

void PortStatusLine::refresh()
{
    // A notice (the transmit time-out) takes the place of the input's row:
    // it is what the operator must read first.
    QStringList rows = m_ports.split(QLatin1Char('\n'));
    if (!m_notice.isEmpty())
        rows.first() = m_notice;
    const QString full = rows.join(QLatin1Char('\n'));
    setToolTip(m_notice.isEmpty() ? m_portsInFull : m_notice + QLatin1Char('\n') + m_portsInFull);
    QStringList shown;
    for (const QString &row : rows)
        shown.append(fontMetrics().elidedText(row, Qt::ElideRight, qMax(1, contentsRect().width())));
    setText(shown.join(QLatin1Char('\n')));
    // The whole text, for whoever reads it other than by eye.
    setAccessibleName(full);
}
