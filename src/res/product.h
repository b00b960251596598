/* The product's names, the one place each is spelled (UTF-8). The build reads them from here for
   the installer as well, so each stays a plain string on a line of its own. */
#pragma once
#define VELMORA_DISPLAY_NAME "网银助手"
#define VELMORA_PUBLISHER "Velmora"
#define VELMORA_EXE_NAME "VelmoraAssistant.exe"
/* The tray companion that sits beside the executable. */
#define VELMORA_COMPANION_NAME "QXSysTray.exe"
/* The subkey of the machine's Uninstall key that the installer writes. */
#define VELMORA_UNINSTALL_ID "VelmoraAssistant"
/* An installed file that was in use during an update is moved aside under its name with this
   appended, and removed when the program next starts. */
#define VELMORA_ASIDE_SUFFIX ".old"
