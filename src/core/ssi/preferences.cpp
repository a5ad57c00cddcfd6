#include "ssi/preferences.h"

SSIDirectoryPreferences default_preferences() {
    SSIDirectoryPreferences preferences;
    preferences.convert_filter = default_convert_filter;
    preferences.skip_filter = default_skip_filter;
    return preferences;
}
