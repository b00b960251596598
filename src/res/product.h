/* The product's display name, the one place it is spelled (UTF-8). */
#pragma once
#define VELMORA_DISPLAY_NAME "网银助手"
#define VELMORA_EXE_NAME "VelmoraAssistant.exe"
