// Atlas operations shared between the atlas and the font implementation.
#ifndef FTGL64_ATLAS_INTERNAL_H
#define FTGL64_ATLAS_INTERNAL_H

#include <cstddef>

#include "texture-font.h"

namespace ftgl {

// Reserves a w x h region plus the 1-texel gap to its right and below, so
// neighbouring glyphs never bleed into each other under linear filtering.
// The skyline starts at (1, 1) and keeps the last column and row free too.
// On success stores the region's top-left texel and returns true; on
// failure (no room, out of memory) the atlas is unchanged.
bool atlas_allocate(texture_atlas_t* atlas, size_t w, size_t h, size_t* x, size_t* y);

// Copies a w x h block of 8-bit coverage into a depth-1 atlas at (x, y) and
// grows the dirty box. `top_row` is the top row of the block and `pitch`
// the byte offset from one row to the next one down (may be negative).
void atlas_write_gray(texture_atlas_t* atlas, size_t x, size_t y, size_t w, size_t h,
                      const unsigned char* top_row, long pitch);

// Fonts register with their atlas so that deleting the atlas can detach them
// instead of leaving them to write into freed memory.
bool atlas_attach_font(texture_atlas_t* atlas, texture_font_t* font);
void atlas_detach_font(texture_atlas_t* atlas, texture_font_t* font);

// Implemented by the font: forget the atlas (it is being deleted).
void font_forget_atlas(texture_font_t* font);

} // namespace ftgl

#endif
