// The host table handed to plug-ins, assembled from every layer's sub-tables.
#pragma once
#include "core/plugins/qx_pluginapi.h"

extern "C" {
extern const qxPluginBase qxPluginBaseTable;
}
