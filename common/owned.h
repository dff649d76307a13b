// Owners that release what they hold when they go out of scope, so that a
// function's error paths need no clean-up of their own: memory from malloc
// (handed on with release() once the function succeeds). Portable.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
  void operator()(void *memory) const { std::free(memory); }
};

template <typename T> using MallocPtr = std::unique_ptr<T, FreeDeleter>;

// An uninitialised array of count T from malloc; empty when count is 0, too
// large to size or not to be had.
template <typename T> MallocPtr<T> MallocArray(size_t count) {
  if (count == 0 || count > SIZE_MAX / sizeof(T))
    return MallocPtr<T>();
  return MallocPtr<T>(static_cast<T *>(std::malloc(count * sizeof(T))));
}
