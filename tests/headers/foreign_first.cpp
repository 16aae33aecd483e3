// Our headers after the foreign ones: none of our names may be one of
// their macros.
#include "tests/headers/foreign_headers.h"
#include "tests/headers/our_headers.h"
