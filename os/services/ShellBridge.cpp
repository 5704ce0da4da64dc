#include "os/services/ShellBridge.h"

namespace {
ShellBridge* current = nullptr;
}

void ShellBridge::set(ShellBridge* bridge) { current = bridge; }
ShellBridge* ShellBridge::get() { return current; }
