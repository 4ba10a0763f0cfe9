#include "core/footswitchoptions.h"

#include "platform/storage/settingsstore.h"

FootswitchOptions FootswitchOptions::load(const SettingsStore &settings)
{
    namespace S = StationSettings;
    FootswitchOptions options;
    options.line = S::footswitchLine(settings.get(S::footswitchLineKey));
    options.inverted = S::footswitchInverted(settings.get(S::footswitchInvertedKey));
    options.debounceMs = S::footswitchDebounceMs(settings.get(S::footswitchDebounceKey));
    options.relayLine = S::relayLine(settings.get(S::relayLineKey));
    options.txTimeoutSeconds = S::txTimeoutSeconds(settings.get(S::txTimeoutKey));
    options.txTimeoutWarningSeconds = S::txTimeoutWarningSeconds(settings.get(S::txTimeoutWarningKey));
    return options;
}
