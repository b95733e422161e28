/*
 * The API header must compile alone as C, with strict warnings, on every
 * target. Including it twice checks the include guard as well.
 */
#include "twmapav9.h"
#include "twmapav9.h"
