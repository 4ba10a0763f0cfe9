#include "ui/timeonair/timeonairwindow.h"

#include "platform/desktop/helpviewer.h"
#include "platform/desktop/messages.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

TimeOnAirWindow::TimeOnAirWindow(TimeOnAirLog &log, HelpViewer *opener, Messages *messages, QWidget *parent)
    : QDialog(parent)
    , m_log(log)
    , m_opener(opener)
    , m_messages(messages)
    , m_today(new QLabel(this))
    , m_week(new QLabel(this))
    , m_table(new QTableWidget(0, 4, this))
    , m_openFolder(new QPushButton(QStringLiteral("&Open folder"), this))
{
    setWindowTitle(QStringLiteral("Time on air"));
    auto *totals = new QFormLayout;
    totals->addRow(QStringLiteral("Today:"), m_today);
    totals->addRow(QStringLiteral("Last 7 days:"), m_week);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Start"), QStringLiteral("Seconds"),
                                        QStringLiteral("Keyed by"), QStringLiteral("Ended by")});
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    m_openFolder->setToolTip(QDir::toNativeSeparators(m_log.fileName()));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(m_openFolder, QDialogButtonBox::ActionRole);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(totals);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    // Esc and Enter close it at once; the table only shows.
    buttons->button(QDialogButtonBox::Close)->setFocus();
    resize(440, 360);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_openFolder, &QPushButton::clicked, this, &TimeOnAirWindow::openFolder);
    connect(&m_log, &TimeOnAirLog::transmissionEnded, this, &TimeOnAirWindow::reload);
}

QString TimeOnAirWindow::duration(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

void TimeOnAirWindow::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    reload();
}

void TimeOnAirWindow::reload()
{
    // The continuation is dropped if the window is gone by then.
    m_log.summary().then(this, [this](const TimeOnAirSummary &summary) { showSummary(summary); });
}

void TimeOnAirWindow::showSummary(const TimeOnAirSummary &summary)
{
    m_today->setText(duration(summary.todayMs));
    m_week->setText(duration(summary.weekMs));
    m_table->setRowCount(int(summary.latest.size()));
    for (int row = 0; row < summary.latest.size(); ++row) {
        const Transmission &transmission = summary.latest[row];
        const QStringList cells{transmission.start.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                QString::number(transmission.milliseconds() / 1000.0, 'f', 3), transmission.source,
                                transmission.ending};
        for (int column = 0; column < cells.size(); ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            if (column == 1)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(row, column, item);
        }
    }
}

void TimeOnAirWindow::openFolder()
{
    // The desktop's handler for a folder is its file manager.
    const QString folder = QFileInfo(m_log.fileName()).absolutePath();
    if ((!m_opener || !m_opener->showContents(folder)) && m_messages)
        m_messages->show(QStringLiteral("No file manager could open the folder:\n%1").arg(QDir::toNativeSeparators(folder)));
}
