// Page hints for fresh arrays. Touching a fresh page of memory costs a page
// fault, which is slow on virtual machines; these hints let the system map
// an array's pages in fewer steps. They change no byte, and do nothing where
// they are not offered.
//
// Declared here, beside the arrays that use them, so that nothing in this
// folder needs a header from above it; each platform's file in src/platform
// defines them.
#pragma once

#include <cstddef>

namespace stlrefine::platform {

// The whole large pages (2 MiB) inside the array are backed by large pages
// as they are touched: one fault per 2 MiB instead of one per 4 KiB.
void adviseLargePages(const void* data, std::size_t bytes) noexcept;
// All pages of the array are mapped now, in one call, for an array that is
// about to be written.
void prefaultPages(void* data, std::size_t bytes) noexcept;

}  // namespace stlrefine::platform
