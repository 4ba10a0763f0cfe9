#pragma once

#include <QString>

// A pseudo-terminal pair made for a test: the slave stands in for a serial
// device that the code under test opens by path, the master is the far end.
// Closing the master makes the slave go away as an unplugged device does.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    bool isValid() const { return m_master >= 0; }
    // "/dev/pts/N"
    QString slavePath() const { return m_slavePath; }
    // "pts-N": the name the modem-line library files its state under.
    QString modemLinesName() const;
    void closeMaster();

private:
    int m_master = -1;
    QString m_slavePath;
};
