#pragma once

#include "platform/serial/systemserialports.h"

#include <QHash>

class SettingsStore;

// The port mappings (group "Ports") and TLS files (group "Tls") of the
// settings file, judged by the same rules as the Settings window's entries:
// a value that cannot be used is refused with a reason that names it, and
// only an absent (or empty) mapping means the built-in device.
class StoredPortMappings : public PortMappings
{
public:
    explicit StoredPortMappings(const SettingsStore &settings);

    Mapping mapping(int portNumber) const override;
    Tls tls() const override;

    // Entries of the Settings window not saved yet, by port number, judged
    // and used in place of the stored ones until cleared: the wiring
    // assistant opens the devices the user is about to save.
    void setUnsaved(const QHash<int, QString> &mappings) { m_unsaved = mappings; }

private:
    const SettingsStore &m_settings;
    QHash<int, QString> m_unsaved;
};
