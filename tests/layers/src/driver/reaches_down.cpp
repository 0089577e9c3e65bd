// Reaches down: allowed.
#include "series/fatal.h"
