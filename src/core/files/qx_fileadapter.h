// Shared by the file layer's sources: which adapters an adapter list lets serve.
#pragma once
#include "core/files/qx_file.h"

namespace qxfile {

// Admission by a "|"-separated loader list: empty or "default" admits all;
// "native", "inbuilt" and "plugin" only as whole tokens; a plug-in name when
// a token matches it over the token's length, or (pluginMeansAll) "plugin".
bool listAdmits(const char *list, const char *name, bool pluginMeansAll);
// Whether an adapter may serve an open: enabled, named when it must be, and
// admitted by the list.
bool adapterUsable(const qxAdapterNode *node, const char *list);

} // namespace qxfile
