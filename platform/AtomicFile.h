#pragma once
// Atomic whole-file writes live in the layer without SDL, where the analytics agent uses them too.
#include "platform/base/AtomicFile.h"
