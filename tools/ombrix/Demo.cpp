#include "Commands.h"

int RunDemo(int, char**) { return 1; }
