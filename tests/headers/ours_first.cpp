// Our headers before the foreign ones: none of our global names may clash
// with their declarations.
#include "tests/headers/our_headers.h"
#include "tests/headers/foreign_headers.h"
