#pragma once

#include "core/timeonairlog.h"

#include <QDialog>

class HelpViewer;
class Messages;
class QLabel;
class QPushButton;
class QTableWidget;

// File > Time on air...: today's and this week's time on the air and the
// latest transmissions, as the log's file has them, and a button that opens
// the file's folder. Read when shown and again after every transmission,
// on the log's thread.
class TimeOnAirWindow : public QDialog
{
    Q_OBJECT

public:
    TimeOnAirWindow(TimeOnAirLog &log, HelpViewer *opener, Messages *messages, QWidget *parent = nullptr);

    QLabel *today() const { return m_today; }
    QLabel *week() const { return m_week; }
    QTableWidget *table() const { return m_table; }
    QPushButton *openFolderButton() const { return m_openFolder; }

    // "1:02:05"
    static QString duration(qint64 ms);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void reload();
    void showSummary(const TimeOnAirSummary &summary);
    void openFolder();

    TimeOnAirLog &m_log;
    HelpViewer *m_opener = nullptr;
    Messages *m_messages = nullptr;
    QLabel *m_today = nullptr;
    QLabel *m_week = nullptr;
    QTableWidget *m_table = nullptr;
    QPushButton *m_openFolder = nullptr;
};
