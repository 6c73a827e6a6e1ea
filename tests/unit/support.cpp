// Stand-ins for the library modules that unit tests and probes link without: the error system's
// entry points that start-up requires. ERRORNEW answers NIL here, so a run-time error raised in
// these programs ends with the internal error the error system gives when it cannot build an
// Error object.
#include "vm/extend.h"

VL_FUNC(ERRORNEW) { vl_ret(); }
VL_FUNC(__ERRORBLOCK) { vl_ret(); }
VL_FUNC(__BREAKBLOCK) { vl_ret(); }

VL_NATIVE_MODULE(test_support, VL_FUNCENTRY(ERRORNEW), VL_FUNCENTRY(__ERRORBLOCK), VL_FUNCENTRY(__BREAKBLOCK));

