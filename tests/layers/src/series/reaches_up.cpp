// A series-layer file that includes the dialogue program's header in each
// spelling a compiler would find it by: the layer check must refuse every
// one of them (tests/CMakeLists.txt, layers.*).
#include "driver/series.h"
#include <driver/series.h>
#include "../driver/series.h"
#include "./../driver/series.h"
#include "src/driver/series.h"
#include <src/driver/series.h>
#include "series/../driver/series.h"
#  include "driver//series.h"
