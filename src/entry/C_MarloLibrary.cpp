// The module library itself: its code is the whole of c_marlo_core, linked in entire;
// this unit only gives the library target a source of its own.
#include "C_Marlo.h"
