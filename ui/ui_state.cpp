#include "ui/ui.h"

UiState g_ui;
