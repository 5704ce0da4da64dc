#include "os/shell/Shell.h"

int main() { return os::Shell().run(); }
