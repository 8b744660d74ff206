// formatFloat against snprintf("%.6g", (double)f) for all 2^32 bit patterns:
// the sweep of test_float_format.cpp at stride 1, when STLREFINE_EXHAUSTIVE=1.
#define STLREFINE_ALL_FLOATS
#include "test_float_format.cpp"
