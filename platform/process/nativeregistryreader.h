#pragma once

#include "platform/process/registryreader.h"

#include <QStringList>

// The machine's registry. On Windows the ANSI advapi32 calls. Elsewhere
// there is no registry, and the reader stands in for the one value the
// program looks up first: HKEY_LOCAL_MACHINE "SOFTWARE\Microsoft\Shared
// Tools\MSINFO" value "PATH" holds the full path of the first installed
// system information tool of `tools`, and every other key is missing.
class NativeRegistryReader : public RegistryReader
{
public:
    static QStringList defaultTools();

    // `searchPaths` are the folders to look for the tools in; none means
    // the folders of PATH.
    explicit NativeRegistryReader(QStringList tools = defaultTools(), QStringList searchPaths = {});

    long open(quint32 root, const QByteArray &subKey, quint32 access, Key *key) override;
    long query(Key key, const QByteArray &valueName, quint32 *type, char *data, quint32 *size) override;
    long close(Key key) override;

private:
    QStringList m_tools;
    QStringList m_searchPaths;
};
