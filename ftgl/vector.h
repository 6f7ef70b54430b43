// Internal helpers for vector_t. Not exported: callers only read vectors.
#ifndef FTGL64_VECTOR_H
#define FTGL64_VECTOR_H

#include "texture-font.h"

namespace ftgl {

// Returns null when memory runs out.
vector_t* vector_new(size_t item_size);
void vector_delete(vector_t* v);

inline void* vector_at(const vector_t* v, size_t i)
{
    return static_cast<unsigned char*>(v->items) + i * v->item_size;
}

// Make room for at least `n` elements; false when memory runs out (the
// vector is then unchanged), so callers can reserve before committing.
bool vector_reserve(vector_t* v, size_t n);

// Insert copies one element before position `i` (i == size appends).
// Both fail only when memory runs out, leaving the vector unchanged.
bool vector_insert(vector_t* v, size_t i, const void* item);
inline bool vector_push_back(vector_t* v, const void* item) { return vector_insert(v, v->size, item); }

void vector_erase(vector_t* v, size_t i);

} // namespace ftgl

#endif
