// Step functions of the wipe effects.
#pragma once
#include "fx/qx_transitionfx.h"
