#pragma once

#include <QString>

#include <hamlib/rig.h>

// Hamlib, opened when a radio is used or its models are listed rather than
// linked in: the relocations of its tables of rigs alone dirty some 3 MiB of
// every copy of the program, radio or not. Each owner opens its own handle
// (the loader counts them) and the library stays loaded from the first open
// to the end of the process, so that no call is ever left pointing into a
// library that went.
class HamlibLibrary
{
public:
    HamlibLibrary();
    ~HamlibLibrary();
    HamlibLibrary(const HamlibLibrary &) = delete;
    HamlibLibrary &operator=(const HamlibLibrary &) = delete;

    bool isLoaded() const { return m_error.isEmpty(); }
    // Why it could not be opened, for a message.
    QString error() const { return m_error; }

    // The calls this program makes, as declared by Hamlib's header.
    decltype(&::rig_init) init = nullptr;
    decltype(&::rig_set_conf) setConf = nullptr;
    decltype(&::rig_token_lookup) tokenLookup = nullptr;
    decltype(&::rig_open) open = nullptr;
    decltype(&::rig_close) close = nullptr;
    decltype(&::rig_cleanup) cleanup = nullptr;
    decltype(&::rig_set_ptt) setPtt = nullptr;
    decltype(&::rig_get_ptt) getPtt = nullptr;
    decltype(&::rig_set_cache_timeout_ms) setCacheTimeoutMs = nullptr;
    decltype(&::rigerror2) errorText = nullptr;
    decltype(&::rig_set_debug) setDebug = nullptr;
    decltype(&::rig_set_debug_callback) setDebugCallback = nullptr;
    decltype(&::rig_load_all_backends) loadAllBackends = nullptr;
    decltype(&::rig_list_foreach) listForEach = nullptr;

private:
    template<typename Call>
    void resolve(Call &call, const char *name);

    void *m_handle = nullptr;
    QString m_error;
};
