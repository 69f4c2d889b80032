// The public header alone, as a client of any C++ standard includes it.
#include "kviabdb.h"

#include "header_check.h"
