#include "app_preferences.h"

SSIDirectoryPreferences app_preferences;

void init_preferences() { app_preferences = default_preferences(); }
