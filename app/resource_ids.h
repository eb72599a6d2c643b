#pragma once

// Identifiers of the executable's resources. No code loads them: the shell shows the icon, and the
// version and strings describe the program to the system and to administrators.
#define IDI_VESTIGIA 107
#define IDI_VESTIGIA_SMALL 108
#define IDS_APP_TITLE 103
#define IDS_APP_CLASS 109
