// Reaches down, or stays in its own folder, in any spelling: allowed.
#include "series/fatal.h"
#include <series/fatal.h>
#include "../series/fatal.h"
#include "src/series/fatal.h"
#include "./series.h"
#include "series.h"
#include "../driver/series.h"
#include <vector>
