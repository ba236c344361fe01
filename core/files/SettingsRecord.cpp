#include "files/SettingsRecord.h"
