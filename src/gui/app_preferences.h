#pragma once

#include "ssi/preferences.h"

// The program-wide preferences of the desktop program; the command-line program builds its own.
extern SSIDirectoryPreferences app_preferences;

// Gives app_preferences the default mask lists and an empty virtual root.
void init_preferences();
