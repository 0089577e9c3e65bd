// A series-layer file that includes the dialogue program's header: the
// layer check must refuse it (tests/CMakeLists.txt, layers.*).
#include "driver/series.h"
