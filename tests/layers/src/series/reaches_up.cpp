// A series-layer file that includes the dialogue program's header in each
// spelling a compiler would find it by: the layer check must refuse every
// one of them (tests/CMakeLists.txt, layers.*).
// The spellings as written, not as clang-format would sort them.
// clang-format off
#include "driver/series.h"
#include <driver/series.h>
#include "../driver/series.h"
#include "./../driver/series.h"
#include "src/driver/series.h"
#include <src/driver/series.h>
#include "series/../driver/series.h"
#  include "driver//series.h"
// clang-format on
