#include "pseudoterminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

PseudoTerminal::PseudoTerminal()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return;
    const char *slave = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (slave = ptsname(master)) == nullptr) {
        ::close(master);
        return;
    }
    m_master = master;
    m_slavePath = QString::fromLocal8Bit(slave);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
}

QString PseudoTerminal::modemLinesName() const
{
    return QStringLiteral("pts-") + m_slavePath.section(QLatin1Char('/'), -1);
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}
