#include "ui/about/sysinfolauncher.h"

#include "platform/process/fileprobe.h"
#include "platform/desktop/messages.h"
#include "platform/process/programlauncher.h"
#include "platform/process/registryreader.h"

#include <QByteArray>

#include <algorithm>

namespace {

constexpr quint32 bufferSize = 1024;

} // namespace

SysInfoLauncher::SysInfoLauncher(const PlatformServices &platform)
    : m_platform(platform)
{
}

void SysInfoLauncher::StartSysInfo()
{
    QString toolPath;
    if (!GetKeyValue(RegistryReader::LocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                     QStringLiteral("PATH"), toolPath)) {
        if (!GetKeyValue(RegistryReader::LocalMachine, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location"),
                         QStringLiteral("MSINFO"), toolPath)) {
            m_platform.messages->show(unavailableMessage());
            return;
        }
        // The folder exactly as stored: a trailing backslash gives two in a row.
        const QString candidate = toolPath + QStringLiteral("\\MSINFO32.EXE");
        if (m_platform.files->probe(candidate) != FileProbe::Result::PlainFile) {
            m_platform.messages->show(unavailableMessage());
            return;
        }
        toolPath = candidate;
    }
    // The tool's own path is trusted without a look: the launch tells.
    if (!m_platform.launcher->launch(toolPath))
        m_platform.messages->show(unavailableMessage());
}

bool SysInfoLauncher::GetKeyValue(quint32 KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal)
{
    RegistryReader &registry = *m_platform.registry;

    // Read rights only: the machine-wide keys refuse more to most users.
    RegistryReader::Key key = 0;
    if (registry.open(KeyRoot, KeyName.toLocal8Bit(), RegistryReader::KeyRead, &key) != RegistryReader::Success) {
        KeyVal.clear();
        return false;
    }

    QByteArray buffer(bufferSize, '\0');
    quint32 type = 0;
    quint32 size = bufferSize;
    bool read = false;
    if (registry.query(key, SubKeyRef.toLocal8Bit(), &type, buffer.data(), &size) != RegistryReader::Success) {
        KeyVal.clear();
    } else {
        QByteArray data = buffer.left(std::min(size, bufferSize));
        // Texts are mostly stored with their terminating zero, which is no
        // part of them. A value without data bytes is simply empty.
        if (data.endsWith('\0'))
            data.chop(1);

        switch (type) {
        case RegistryReader::TypeText:
            KeyVal = QString::fromLocal8Bit(data);
            break;
        case RegistryReader::TypeDword: {
            // Stored least significant byte first; written most significant first.
            std::reverse(data.begin(), data.end());
            KeyVal = QStringLiteral("&h") + KeyVal + QString::fromLatin1(data.toHex().toUpper());
            break;
        }
        default:
            break;
        }
        read = true;
    }
    registry.close(key);
    return read;
}
