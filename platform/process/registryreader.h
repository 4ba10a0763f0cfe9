#pragma once

#include <QByteArray>
#include <QtGlobal>

// The three registry calls the system information launcher needs, with the
// Windows meaning of every number: the calls return a Windows error code (0
// for success), the value type is a Windows type code and the data are the
// raw bytes as stored. Key paths and value names travel in the system's
// 8-bit code page, as the ANSI forms of the calls take them.
class RegistryReader
{
public:
    using Key = quintptr;

    // Predefined root key.
    static constexpr quint32 LocalMachine = 0x80000002;

    // Access rights.
    static constexpr quint32 KeyQueryValue = 0x0001;
    static constexpr quint32 KeyRead = 0x20019; // READ_CONTROL | QUERY_VALUE | ENUMERATE_SUB_KEYS | NOTIFY

    // Value type codes.
    static constexpr quint32 TypeText = 1;  // REG_SZ
    static constexpr quint32 TypeDword = 4; // REG_DWORD

    // Result codes.
    static constexpr long Success = 0;
    static constexpr long FileNotFound = 2;
    static constexpr long AccessDenied = 5;
    static constexpr long InvalidHandle = 6;
    static constexpr long MoreData = 234;

    virtual ~RegistryReader() = default;

    // Opens `subKey` under `root` with the rights of `access`; on success
    // `*key` is a handle that close() must be given back.
    virtual long open(quint32 root, const QByteArray &subKey, quint32 access, Key *key) = 0;

    // Copies the data of value `valueName` into `data`, which holds `*size`
    // bytes. On success `*type` is the type code and `*size` the number of
    // data bytes; a value longer than the buffer gives MoreData.
    virtual long query(Key key, const QByteArray &valueName, quint32 *type, char *data, quint32 *size) = 0;

    virtual long close(Key key) = 0;
};
