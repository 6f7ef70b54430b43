#include "vector.h"

#include <cstdlib>
#include <cstring>

namespace ftgl {

vector_t* vector_new(size_t item_size)
{
    if (item_size == 0)
        return nullptr;
    auto* v = static_cast<vector_t*>(std::calloc(1, sizeof(vector_t)));
    if (v)
        v->item_size = item_size;
    return v;
}

void vector_delete(vector_t* v)
{
    if (!v)
        return;
    std::free(v->items);
    std::free(v);
}

bool vector_reserve(vector_t* v, size_t n)
{
    if (n <= v->capacity)
        return true;
    size_t cap = v->capacity ? v->capacity : 4;
    while (cap < n)
        cap *= 2;
    void* p = std::realloc(v->items, cap * v->item_size);
    if (!p)
        return false;
    v->items = p;
    v->capacity = cap;
    return true;
}

bool vector_insert(vector_t* v, size_t i, const void* item)
{
    if (i > v->size || !vector_reserve(v, v->size + 1))
        return false;
    auto* base = static_cast<unsigned char*>(v->items);
    std::memmove(base + (i + 1) * v->item_size, base + i * v->item_size, (v->size - i) * v->item_size);
    std::memcpy(base + i * v->item_size, item, v->item_size);
    ++v->size;
    return true;
}

void vector_erase(vector_t* v, size_t i)
{
    if (i >= v->size)
        return;
    auto* base = static_cast<unsigned char*>(v->items);
    std::memmove(base + i * v->item_size, base + (i + 1) * v->item_size, (v->size - i - 1) * v->item_size);
    --v->size;
}

} // namespace ftgl
