// Both routines are inline in the header; this source keeps the unit's one-header-one-source shape.
#include "formats/MaxMin.h"
