#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "atlas-internal.h"
#include "texture-font.h"
#include "vector.h"

namespace {

// One horizontal segment of the skyline: the span [x, x + width) is free
// from row y downward.
struct SkylineNode {
    size_t x;
    size_t y;
    size_t width;
};

struct AtlasExtra {
    bool dirty = false;
    size_t dirty_x0 = 0, dirty_y0 = 0, dirty_x1 = 0, dirty_y1 = 0; // x1/y1 exclusive
    std::vector<texture_font_t*> fonts;
};

// The public record is the first member, so a texture_atlas_t* handed out to
// callers converts back to the block that carries the private state.
struct AtlasBlock {
    texture_atlas_t pub;
    AtlasExtra* extra;
};
static_assert(std::is_standard_layout<AtlasBlock>::value, "AtlasBlock must be pointer-interconvertible");

AtlasExtra* extra_of(texture_atlas_t* atlas) { return reinterpret_cast<AtlasBlock*>(atlas)->extra; }

SkylineNode& node(const texture_atlas_t* atlas, size_t i)
{
    return *static_cast<SkylineNode*>(ftgl::vector_at(atlas->nodes, i));
}

// Lowest row at which a rw-wide region can start at node i, or false when it
// would cross the right edge or the bottom.
bool fit(const texture_atlas_t* atlas, size_t i, size_t rw, size_t rh, size_t* out_y)
{
    const size_t x = node(atlas, i).x;
    if (x + rw > atlas->width)
        return false;
    size_t y = node(atlas, i).y;
    size_t covered = 0;
    for (size_t j = i; covered < rw; ++j) {
        if (j >= atlas->nodes->size)
            return false;
        y = std::max(y, node(atlas, j).y);
        if (y + rh > atlas->height)
            return false;
        covered += node(atlas, j).width;
    }
    *out_y = y;
    return true;
}

} // namespace

namespace ftgl {

bool atlas_allocate(texture_atlas_t* atlas, size_t w, size_t h, size_t* x, size_t* y)
{
    const size_t rw = w + 1, rh = h + 1;
    vector_t* nodes = atlas->nodes;

    size_t best = nodes->size, best_bottom = static_cast<size_t>(-1), best_width = 0, best_y = 0;
    for (size_t i = 0; i < nodes->size; ++i) {
        size_t top;
        if (!fit(atlas, i, rw, rh, &top))
            continue;
        const size_t bottom = top + rh;
        // Lowest bottom edge keeps the skyline flat; on ties prefer the
        // narrower segment so wide gaps stay available for wide glyphs.
        if (bottom < best_bottom || (bottom == best_bottom && node(atlas, i).width < best_width)) {
            best = i;
            best_bottom = bottom;
            best_width = node(atlas, i).width;
            best_y = top;
        }
    }
    if (best == nodes->size)
        return false;
    // Reserve first so that running out of memory cannot leave the skyline
    // half updated.
    if (!vector_reserve(nodes, nodes->size + 1))
        return false;

    const SkylineNode placed{node(atlas, best).x, best_y + rh, rw};
    vector_insert(nodes, best, &placed);

    // Trim or drop the segments now covered by the new one.
    const size_t end = placed.x + placed.width;
    for (size_t j = best + 1; j < nodes->size;) {
        SkylineNode& n = node(atlas, j);
        if (n.x >= end)
            break;
        const size_t overlap = end - n.x;
        if (n.width <= overlap) {
            vector_erase(nodes, j);
            continue;
        }
        n.x += overlap;
        n.width -= overlap;
        break;
    }
    // Merge neighbours at the same height to keep the skyline short.
    for (size_t j = 0; j + 1 < nodes->size;) {
        if (node(atlas, j).y == node(atlas, j + 1).y) {
            node(atlas, j).width += node(atlas, j + 1).width;
            vector_erase(nodes, j + 1);
        } else {
            ++j;
        }
    }

    atlas->used += rw * rh;
    *x = placed.x;
    *y = best_y;
    return true;
}

void atlas_write_gray(texture_atlas_t* atlas, size_t x, size_t y, size_t w, size_t h,
                      const unsigned char* top_row, long pitch)
{
    if (w == 0 || h == 0)
        return;
    for (size_t r = 0; r < h; ++r) {
        std::memcpy(atlas->data + (y + r) * atlas->width + x, top_row + static_cast<long>(r) * pitch, w);
    }
    AtlasExtra* e = extra_of(atlas);
    if (!e->dirty) {
        e->dirty = true;
        e->dirty_x0 = x;
        e->dirty_y0 = y;
        e->dirty_x1 = x + w;
        e->dirty_y1 = y + h;
    } else {
        e->dirty_x0 = std::min(e->dirty_x0, x);
        e->dirty_y0 = std::min(e->dirty_y0, y);
        e->dirty_x1 = std::max(e->dirty_x1, x + w);
        e->dirty_y1 = std::max(e->dirty_y1, y + h);
    }
}

bool atlas_attach_font(texture_atlas_t* atlas, texture_font_t* font)
{
    try {
        extra_of(atlas)->fonts.push_back(font);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void atlas_detach_font(texture_atlas_t* atlas, texture_font_t* font)
{
    auto& fonts = extra_of(atlas)->fonts;
    fonts.erase(std::remove(fonts.begin(), fonts.end(), font), fonts.end());
}

} // namespace ftgl

extern "C" {

texture_atlas_t* texture_atlas_new(size_t width, size_t height, size_t depth)
{
    if (width < 3 || height < 3)
        return nullptr;
    if (depth != 1 && depth != 3 && depth != 4)
        return nullptr;
    if (width > static_cast<size_t>(-1) / height / depth)
        return nullptr;

    auto* block = static_cast<AtlasBlock*>(std::calloc(1, sizeof(AtlasBlock)));
    if (!block)
        return nullptr;
    texture_atlas_t* atlas = &block->pub;
    atlas->width = width;
    atlas->height = height;
    atlas->depth = depth;
    atlas->data = static_cast<unsigned char*>(std::calloc(width * height, depth));
    atlas->nodes = ftgl::vector_new(sizeof(SkylineNode));
    block->extra = new (std::nothrow) AtlasExtra();
    const SkylineNode first{1, 1, width - 1};
    if (!atlas->data || !atlas->nodes || !block->extra || !ftgl::vector_push_back(atlas->nodes, &first)) {
        texture_atlas_delete(atlas);
        return nullptr;
    }
    return atlas;
}

void texture_atlas_delete(texture_atlas_t* atlas)
{
    if (!atlas)
        return;
    auto* block = reinterpret_cast<AtlasBlock*>(atlas);
    if (block->extra) {
        for (texture_font_t* f : block->extra->fonts)
            ftgl::font_forget_atlas(f);
        delete block->extra;
    }
    ftgl::vector_delete(atlas->nodes);
    std::free(atlas->data);
    std::free(block);
}

int texture_atlas_take_dirty(texture_atlas_t* atlas, size_t* x, size_t* y, size_t* w, size_t* h)
{
    size_t rx = 0, ry = 0, rw = 0, rh = 0;
    int result = 0;
    if (atlas) {
        AtlasExtra* e = extra_of(atlas);
        if (e->dirty) {
            rx = e->dirty_x0;
            ry = e->dirty_y0;
            rw = e->dirty_x1 - e->dirty_x0;
            rh = e->dirty_y1 - e->dirty_y0;
            e->dirty = false;
            result = 1;
        }
    }
    if (x)
        *x = rx;
    if (y)
        *y = ry;
    if (w)
        *w = rw;
    if (h)
        *h = rh;
    return result;
}

} // extern "C"
