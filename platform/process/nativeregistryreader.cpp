#include "platform/process/nativeregistryreader.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QFile>
#include <QStandardPaths>

#include <cstring>
#endif

QStringList NativeRegistryReader::defaultTools()
{
    return {QStringLiteral("hardinfo"), QStringLiteral("kinfocenter"), QStringLiteral("gnome-system-monitor")};
}

NativeRegistryReader::NativeRegistryReader(QStringList tools, QStringList searchPaths)
    : m_tools(std::move(tools))
    , m_searchPaths(std::move(searchPaths))
{
}

#ifdef Q_OS_WIN

namespace {

// The predefined keys are 32-bit values that 64-bit Windows sign-extends
// into a handle.
HKEY rootHandle(quint32 root)
{
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(root))));
}

} // namespace

long NativeRegistryReader::open(quint32 root, const QByteArray &subKey, quint32 access, Key *key)
{
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(rootHandle(root), subKey.constData(), 0, REGSAM(access), &opened);
    if (result == ERROR_SUCCESS)
        *key = reinterpret_cast<Key>(opened);
    return result;
}

long NativeRegistryReader::query(Key key, const QByteArray &valueName, quint32 *type, char *data, quint32 *size)
{
    DWORD valueType = 0;
    DWORD dataSize = *size;
    const LONG result = RegQueryValueExA(reinterpret_cast<HKEY>(key), valueName.constData(), nullptr, &valueType,
                                         reinterpret_cast<LPBYTE>(data), &dataSize);
    *type = valueType;
    *size = dataSize;
    return result;
}

long NativeRegistryReader::close(Key key)
{
    return RegCloseKey(reinterpret_cast<HKEY>(key));
}

#else

namespace {

constexpr RegistryReader::Key toolKey = 1;

// Registry names ignore case.
bool sameName(const QByteArray &a, const char *b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

long NativeRegistryReader::open(quint32 root, const QByteArray &subKey, quint32 access, Key *key)
{
    if (root != LocalMachine || !sameName(subKey, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"))
        return FileNotFound;
    // Like the machine-wide part of a real registry, read-only to the user.
    if (access & ~KeyRead)
        return AccessDenied;
    *key = toolKey;
    return Success;
}

long NativeRegistryReader::query(Key key, const QByteArray &valueName, quint32 *type, char *data, quint32 *size)
{
    if (key != toolKey)
        return InvalidHandle;
    if (!sameName(valueName, "PATH"))
        return FileNotFound;

    QString tool;
    for (const QString &name : std::as_const(m_tools)) {
        tool = QStandardPaths::findExecutable(name, m_searchPaths);
        if (!tool.isEmpty())
            break;
    }
    if (tool.isEmpty())
        return FileNotFound;

    // Stored as a text value is: with its terminating zero.
    QByteArray stored = QFile::encodeName(tool);
    stored.append('\0');
    const auto needed = quint32(stored.size());
    if (needed > *size) {
        *size = needed;
        return MoreData;
    }
    std::memcpy(data, stored.constData(), needed);
    *type = TypeText;
    *size = needed;
    return Success;
}

long NativeRegistryReader::close(Key key)
{
    return key == toolKey ? Success : InvalidHandle;
}

#endif
