/*
 * The public headers must compile alone as C, with strict warnings, on
 * every target. Including each twice checks the include guards as well.
 */
#include "twplatform.h"
#include "twplatform.h"
#include "twmapav9.h"
#include "twmapav9.h"
