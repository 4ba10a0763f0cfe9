#include "platform/cat/hamliblibrary.h"

#include <dlfcn.h>

namespace {
// The library's run-time name for the ABI this program was built against.
constexpr const char *libraryName = "libhamlib.so.4";
}

HamlibLibrary::HamlibLibrary()
{
    m_handle = ::dlopen(libraryName, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!m_handle) {
        m_error = QStringLiteral("Hamlib cannot be loaded (%1)").arg(QString::fromLocal8Bit(::dlerror()));
        return;
    }
    resolve(init, "rig_init");
    resolve(setConf, "rig_set_conf");
    resolve(tokenLookup, "rig_token_lookup");
    resolve(open, "rig_open");
    resolve(close, "rig_close");
    resolve(cleanup, "rig_cleanup");
    resolve(setPtt, "rig_set_ptt");
    resolve(getPtt, "rig_get_ptt");
    resolve(setCacheTimeoutMs, "rig_set_cache_timeout_ms");
    resolve(errorText, "rigerror2");
    resolve(setDebug, "rig_set_debug");
    resolve(setDebugCallback, "rig_set_debug_callback");
    resolve(loadAllBackends, "rig_load_all_backends");
    resolve(listForEach, "rig_list_foreach");
}

HamlibLibrary::~HamlibLibrary()
{
    // RTLD_NODELETE: the library stays; only this handle's count goes.
    if (m_handle)
        ::dlclose(m_handle);
}

template<typename Call>
void HamlibLibrary::resolve(Call &call, const char *name)
{
    call = reinterpret_cast<Call>(::dlsym(m_handle, name));
    if (!call && m_error.isEmpty())
        m_error = QStringLiteral("Hamlib cannot be used: it has no %1").arg(QLatin1String(name));
}
