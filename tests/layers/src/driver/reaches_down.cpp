// Reaches down, or stays in its own folder, in any spelling: allowed.
// The spellings as written, not as clang-format would sort them.
// clang-format off
#include "series/fatal.h"
#include <series/fatal.h>
#include "../series/fatal.h"
#include "src/series/fatal.h"
#include "./series.h"
#include "series.h"
#include "../driver/series.h"
#include <vector>
// clang-format on
