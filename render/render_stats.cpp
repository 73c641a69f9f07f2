#include "render/render_stats.h"

RenderStats g_render_stats;
