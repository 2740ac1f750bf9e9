#pragma once
// Large result arrays are filled once, front to back, right after they are allocated: backing them
// with huge pages where the system offers them on request saves most of the page faults.
#include <cstddef>

namespace kxmodel {

// Asks for huge pages over the untouched memory [data, data + bytes); a hint that may be ignored.
void adviseHugePages(void* data, size_t bytes);

// Reserves room for n elements and advises huge pages for it.
template <typename Vector>
void reserveLarge(Vector& v, size_t n) {
    v.reserve(n);
    adviseHugePages(v.data() + v.size(), (v.capacity() - v.size()) * sizeof(v[0]));
}

}  // namespace kxmodel
