#include "ui/mainwindow/outputstaterows.h"

#include "core/keyingengine.h"
#include "ui/mainwindow/portstatusline.h"

#include <QLabel>
#include <QPixmap>

namespace {

// Left and right of the rows, as the form's captions sit at x = 8.
constexpr int Margin = 8;
constexpr int LampSize = 15;
constexpr int Gap = 6;
// The states begin under the port drop-downs at the least.
constexpr int StateColumn = 88;

QLabel *newLabel(const QString &name, int row, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("output%1%2").arg(name).arg(row + 1));
    label->setTextFormat(Qt::PlainText);
    label->show();
    return label;
}

} // namespace

OutputStateRows::OutputStateRows(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("OutputStateRows"));
}

void OutputStateRows::showChain(const KeyingEngine &engine, const QString &firstPortChosen)
{
    const int count = engine.outputCount();
    while (rowCount() > count) {
        const Row &row = m_rows.back();
        delete row.lamp;
        delete row.name;
        delete row.state;
        m_rows.pop_back();
    }
    while (rowCount() < count) {
        const int index = rowCount();
        m_rows.push_back({newLabel(QStringLiteral("Lamp"), index, this), newLabel(QStringLiteral("Name"), index, this),
                          newLabel(QStringLiteral("State"), index, this), {}, {}});
    }

    using State = PortSupervisor::State;
    for (int index = 0; index < count; ++index) {
        const KeyedOutput &output = engine.outputAt(index);
        Row &row = m_rows[size_t(index)];
        // A relay is known by its port number, a radio by CAT by its address.
        const QString number =
            index == 0 && output.state() == State::Closed ? firstPortChosen : output.portNumber();
        row.nameText = number.isEmpty() ? QStringLiteral("%1 %2").arg(index + 1).arg(output.location())
                                        : QStringLiteral("%1 Com%2").arg(index + 1).arg(number);
        row.stateText = PortStatusLine::stateText(output.state(), output.retries());
        // Whole, for whoever reads them other than by eye: the row may cut them.
        row.name->setAccessibleName(row.nameText);
        row.state->setAccessibleName(row.stateText);
        // The keyed outputs are always the first ones of the chain.
        const bool keyed = index < engine.keyedOutputs();
        const bool ready = output.state() == State::Ready;
        const QString lamp = keyed ? QStringLiteral("keyed") : ready ? QStringLiteral("released") : QStringLiteral("not ready");
        if (row.lamp->accessibleName() != lamp) {
            row.lamp->setPixmap(QPixmap(keyed   ? QStringLiteral(":/lamps/green.png")
                                        : ready ? QStringLiteral(":/lamps/red.png")
                                                : QStringLiteral(":/lamps/grey.png")));
            row.lamp->setAccessibleName(lamp);
        }
        const QString where = number.isEmpty() || output.location().isEmpty()
            ? QString()
            : QStringLiteral(" (%1)").arg(output.location());
        const QString tip = QStringLiteral("%1%2: %3, %4").arg(row.nameText, where, lamp, row.stateText);
        for (QLabel *label : {row.lamp, row.name, row.state})
            label->setToolTip(tip);
    }
    layoutRows();
}

void OutputStateRows::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutRows();
}

void OutputStateRows::layoutRows()
{
    // A column of names and one of states, laid out by hand: a label would
    // clip a text that is too long where it should end in an ellipsis, and
    // the state is what the operator must read, so the name gives way first.
    const QFontMetrics metrics = fontMetrics();
    int widestName = 0;
    int widestState = 0;
    // Rounded up: a text given exactly its rounded width may still be cut.
    for (const Row &row : m_rows) {
        widestName = qMax(widestName, metrics.horizontalAdvance(row.nameText) + 1);
        widestState = qMax(widestState, metrics.horizontalAdvance(row.stateText) + 1);
    }
    const int nameX = Margin + LampSize + Gap;
    const int available = qMax(0, width() - nameX - Margin - Gap);
    const int nameWidth =
        qMin(qMax(widestName, StateColumn - nameX - Gap), qMax(available - widestState, available / 3));
    const int stateX = nameX + nameWidth + Gap;
    const int stateWidth = qMax(1, width() - Margin - stateX);
    for (int index = 0; index < rowCount(); ++index) {
        const Row &row = m_rows[size_t(index)];
        const int top = index * RowHeight;
        row.lamp->setGeometry(Margin, top + (RowHeight - LampSize) / 2, LampSize, LampSize);
        row.name->setGeometry(nameX, top, nameWidth, RowHeight);
        row.name->setText(metrics.elidedText(row.nameText, Qt::ElideRight, nameWidth));
        row.state->setGeometry(stateX, top, stateWidth, RowHeight);
        row.state->setText(metrics.elidedText(row.stateText, Qt::ElideRight, stateWidth));
    }
}
