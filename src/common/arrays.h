// Flat arrays that travel between the pipeline stages.
//
// Every stage allocates the arrays it produces and hands ownership back to
// the caller; unique_ptr<T[]> gives array allocation and array release without
// the zero-filling that std::vector would do on arrays that are overwritten
// anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace stlrefine {

// x, y, z of vertex i at 3i, 3i+1, 3i+2.
using VertexArray = std::unique_ptr<float[]>;
// Corner indices of face f at 3f, 3f+1, 3f+2; (a, b, c) is the orientation.
using FaceIndexArray = std::unique_ptr<std::int32_t[]>;
// Unit normal of face f at 3f, 3f+1, 3f+2.
using NormalArray = std::unique_ptr<float[]>;
// Nine floats per face: its three corners, each x, y, z, in corner order.
using FacetCornerArray = std::unique_ptr<float[]>;

// Allocates an array of n elements without initialising them, on large
// pages where the system offers them.
template <class T>
std::unique_ptr<T[]> allocateArray(std::size_t n) {
    std::unique_ptr<T[]> array(new T[n]);
    platform::adviseLargePages(array.get(), n * sizeof(T));
    return array;
}

// Makes room for n elements in a vector that is about to grow that far, on
// large pages where the system offers them.
template <class T>
void reserveLarge(std::vector<T>& vector, std::size_t n) {
    vector.reserve(n);
    platform::adviseLargePages(vector.data(), vector.capacity() * sizeof(T));
}

}  // namespace stlrefine
