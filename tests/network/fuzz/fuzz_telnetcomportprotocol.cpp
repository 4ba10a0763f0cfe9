// libFuzzer target over the Telnet / Com Port Control parser: whatever a
// server sends must neither crash it nor grow its memory, and two clients
// answering each other must fall silent (no negotiation loop).
//
// The test suite runs it for a few seconds (tests/network/CMakeLists.txt).
// A longer run, from a build directory configured with -DZELVO_FUZZ=ON
// (the default where clang's libFuzzer works):
//
//   cmake --build build --target telnetcomportprotocol_fuzzer
//   mkdir -p fuzz-corpus && build/tests/network/fuzz/fuzz_telnetcomportprotocol \
//       -max_total_time=600 -max_len=4096 -jobs=2 -workers=2 \
//       -dict=tests/network/fuzz/telnet.dict fuzz-corpus tests/network/fuzz/seeds
//
// A crash leaves its input as crash-* in the working directory; replay it by
// passing that file alone as the argument.

#include "platform/net/telnetcomportprotocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Says which property broke, then lets libFuzzer record the input.
#define require(condition) requireAt((condition), #condition, __LINE__)

namespace {
void requireAt(bool condition, const char *text, int line)
{
    if (!condition) {
        std::fprintf(stderr, "property broken at line %d: %s\n", line, text);
        std::abort();
    }
}

// Everything the protocol emits is a negotiation (IAC verb option) or a
// whole Com Port subnegotiation: never a fragment that would put the server
// out of step.
void requireWellFormed(const QByteArray &out)
{
    using P = TelnetComPortProtocol;
    qsizetype i = 0;
    while (i < out.size()) {
        require(quint8(out[i]) == P::Iac && i + 1 < out.size());
        const quint8 verb = quint8(out[i + 1]);
        if (verb >= P::Will && verb <= P::Dont) {
            require(i + 2 < out.size());
            i += 3;
            continue;
        }
        require(verb == P::Sb);
        i += 2;
        for (;;) {
            require(i + 1 < out.size() || (i < out.size() && quint8(out[i]) != P::Iac));
            if (quint8(out[i]) == P::Iac) {
                require(i + 1 < out.size());
                if (quint8(out[i + 1]) == P::Se) {
                    i += 2;
                    break;
                }
                require(quint8(out[i + 1]) == P::Iac);
                i += 2;
            } else {
                ++i;
            }
        }
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks how the rest is cut into reads, as TCP may.
    const size_t step = 1 + data[0] % 17;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const size_t length = size - 1;

    TelnetComPortProtocol client;
    client.requestComPortControl();
    QByteArray answers = client.takeOutgoing();
    int malformed = 0;
    for (size_t offset = 0; offset < length; offset += step) {
        const size_t chunk = offset + step <= length ? step : length - offset;
        client.receive(QByteArrayView(bytes + offset, qsizetype(chunk)));
        const QByteArray out = client.takeOutgoing();
        require(out.size() <= TelnetComPortProtocol::MaxOutgoingLength);
        requireWellFormed(out);
        require(client.malformedCount() >= malformed);
        malformed = client.malformedCount();
        require(!(client.comPortAccepted() && client.comPortRefused()));
        require(client.ctsAsserted() == (client.modemState() && (*client.modemState() & 0x10)));
        answers = out;
    }

    // RFC 1143: a confirmation is never answered. Whatever state the input
    // left the client in, a server agreeing with the client's last word on
    // each option (WILL for its DO, WONT for its DONT, ...) hears nothing back.
    std::array<int, 512> lastVerb{};
    for (qsizetype i = 0; i + 2 < answers.size();) {
        const quint8 verb = quint8(answers[i + 1]);
        if (quint8(answers[i]) == TelnetComPortProtocol::Iac && verb >= TelnetComPortProtocol::Will
            && verb <= TelnetComPortProtocol::Dont) {
            const bool remoteSide = verb == TelnetComPortProtocol::Do || verb == TelnetComPortProtocol::Dont;
            lastVerb[(remoteSide ? 256 : 0) + quint8(answers[i + 2])] = verb;
            i += 3;
        } else {
            ++i;
        }
    }
    for (int key = 0; key < 512 && client.isBetweenCommands(); ++key) {
        if (!lastVerb[key])
            continue;
        // DO <-> WILL and DONT <-> WONT: the agreeing answer to each verb.
        static constexpr quint8 agreeing[4] = {TelnetComPortProtocol::Do, TelnetComPortProtocol::Dont,
                                               TelnetComPortProtocol::Will, TelnetComPortProtocol::Wont};
        const char confirmation[] = {char(TelnetComPortProtocol::Iac), char(agreeing[lastVerb[key] - TelnetComPortProtocol::Will]),
                                     char(key % 256)};
        client.receive(QByteArrayView(confirmation, 3));
        require(client.takeOutgoing().isEmpty());
    }
    return 0;
}
