// Placeholder: reads nothing (replaced by the ASCII parser).
#include "stl/stl.h"

namespace stlrefine {

bool parseAsciiStl(const char*, std::size_t, StlPointList&) { return false; }

float parseStlNumber(const char*, const char*) { return 0.0f; }

}  // namespace stlrefine
