#include "allowresize.h"

bool AllowResize = false;
