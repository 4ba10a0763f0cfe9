#pragma once

#include "core/footswitchdetector.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QTimer>

#include <array>
#include <optional>

class FootswitchBox;
class KeyingEngine;
class Messages;
class QLabel;
class QPushButton;
class SettingsStore;

// The wiring assistant on the Keying page: a lamp for each input line of the
// footswitch port and one for the relay; "Detect", which listens while the
// user presses and releases the footswitch and sets the footswitch box's
// line and polarity from what it heard; and "Test relay", which keys the
// output for a second once the user agrees. It works through the keying
// engine, opened for wiring while the box is on screen (the footswitch keys
// nothing meanwhile), so that every release the engine knows (the time-out,
// a lost port, the window closed, the end, a crash) applies to the test too.
class WiringBox : public QGroupBox
{
    Q_OBJECT

public:
    // How long Detect listens, and how often the lines are read meanwhile
    // and otherwise: often enough to tell a bounce from a press.
    static constexpr int ListenMs = 5000;
    static constexpr int ListenReadMs = 5;
    static constexpr int LampReadMs = 50;

    WiringBox(FootswitchBox &footswitch, const SettingsStore &settings, QWidget *parent = nullptr);
    ~WiringBox() override;

    // The engine to work through and the port numbers ("1" to "9") the main
    // window uses; the box stays hidden without them.
    void setEngine(KeyingEngine &engine, Messages &messages, const QString &inputPort, const QString &outputPort);
    // Other port numbers, as chosen on the station page; either empty hides
    // the box. Open for wiring, it opens them at once.
    void setPorts(const QString &inputPort, const QString &outputPort);

    void detect();
    void testRelay();
    bool isListening() const { return m_detector.has_value(); }

signals:
    // Right before the box opens the ports: the last moment to say what
    // their numbers mean.
    void aboutToOpen();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void openWiring();
    void closeWiring();
    void reopenWiring();
    void readLines();
    void showRelay();
    void finishListening();
    void setStatus(const QString &text);

    FootswitchBox &m_footswitch;
    const SettingsStore &m_settings;
    KeyingEngine *m_engine = nullptr;
    Messages *m_messages = nullptr;
    QString m_inputPort;
    QString m_outputPort;
    bool m_open = false;

    std::array<QLabel *, 4> m_lamps{};
    QLabel *m_relayLamp = nullptr;
    QLabel *m_relayName = nullptr;
    QLabel *m_note = nullptr;
    QLabel *m_footswitchPort = nullptr;
    QLabel *m_relayPort = nullptr;
    QPushButton *m_detect = nullptr;
    QPushButton *m_test = nullptr;
    QLabel *m_status = nullptr;
    QTimer m_reads;
    QElapsedTimer m_clock;
    std::optional<FootswitchDetector> m_detector;
    qint64 m_listenUntilMs = 0;
};
