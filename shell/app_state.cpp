#include "shell/app_state.h"

// Static storage: every member is zero before the entry runs.
AppState g_app;
