/*
 * texture-font.h - glyphs of a TrueType/OpenType file rasterised with
 * FreeType into a texture atlas that the caller uploads to the GPU.
 *
 * The library makes no graphics API calls. It fills `texture_atlas_t.data`
 * with 8-bit coverage values and describes each glyph by its pixel metrics
 * and its normalised position in the atlas; the caller owns the texture.
 *
 * Units: every size, offset and advance is in pixels. A font created with
 * size S is set to an em of S pixels (FreeType character size S at 72 dpi).
 *
 * Threads: an atlas and the fonts that draw into it must be used by one
 * thread at a time. Separate atlas/font sets are independent.
 */
#ifndef FTGL64_TEXTURE_FONT_H
#define FTGL64_TEXTURE_FONT_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define FTGL64_API __attribute__((visibility("default")))
#else
#define FTGL64_API
#endif

/*
 * A growable array of `size` elements of `item_size` bytes each, stored
 * contiguously at `items` (room for `capacity`). Callers may read it; only
 * the library changes it.
 *
 * texture_atlas_t.nodes holds the packer's skyline segments and
 * texture_glyph_t.kerning the glyph's kerning pairs; their element layouts
 * are private. Use texture_glyph_get_kerning() to read kerning.
 */
typedef struct vector_t {
    void* items;
    size_t capacity;
    size_t size;
    size_t item_size;
} vector_t;

/*
 * A single texture of width x height texels with `depth` bytes per texel.
 * Row 0 of `data` is the first row of the texture (t = 0); rows are tightly
 * packed (width * depth bytes each, no padding).
 */
typedef struct texture_atlas_t {
    vector_t* nodes; /* packer state (skyline), private layout */
    size_t width;    /* texels */
    size_t height;   /* texels */
    size_t depth;    /* bytes per texel: 1, 3 or 4 */
    size_t used;     /* texels reserved so far, including each glyph's 1-texel gap */
    unsigned int id; /* free for the caller (e.g. its texture name); the library sets 0 and never reads it */
    unsigned char* data; /* width*height*depth bytes, zeroed at creation */
} texture_atlas_t;

/*
 * One rasterised glyph. Owned by its font; valid until texture_font_delete().
 *
 * Layout convention: with the pen at (x, y) on the baseline and y growing
 * upward, the bitmap's top-left corner is at (x + offset_x, y + offset_y).
 * (s0, t0) is the atlas coordinate of the bitmap's top-left texel corner and
 * (s1, t1) of its bottom-right; t grows with the row index of `data`.
 */
typedef struct texture_glyph_t {
    wchar_t charcode;        /* the character this glyph was loaded for */
    unsigned int id;         /* FreeType glyph index within the face */
    size_t width;            /* bitmap width in pixels (0 for blank glyphs such as space) */
    size_t height;           /* bitmap height in pixels (0 for blank glyphs) */
    int offset_x;            /* pen to left edge of the bitmap, pixels */
    int offset_y;            /* baseline to top edge of the bitmap, pixels, up is positive */
    float advance_x;         /* unhinted horizontal advance, fractional pixels */
    float advance_y;         /* vertical advance, pixels; 0 for horizontal text */
    float s0, t0;            /* top-left atlas coordinate in [0, 1] */
    float s1, t1;            /* bottom-right atlas coordinate in [0, 1] */
    vector_t* kerning;       /* kerning pairs keyed by the preceding character, private layout */
    int outline_type;        /* always 0: glyphs are filled, not outlined */
    float outline_thickness; /* always 0 */
} texture_glyph_t;

/* A face of one font file at one pixel size, drawing into one atlas. */
typedef struct texture_font_t texture_font_t;

/*
 * Creates an empty atlas with zeroed pixels. depth must be 1, 3 or 4 and
 * width and height at least 3 (one usable texel inside the free border).
 * Returns null on invalid arguments or when memory runs out. Release with
 * texture_atlas_delete().
 */
FTGL64_API texture_atlas_t* texture_atlas_new(size_t width, size_t height, size_t depth);

/*
 * Frees the atlas and its pixels. Null is ignored.
 *
 * Fonts still drawing into it are detached: their already loaded glyphs stay
 * valid (metrics and atlas coordinates are unchanged), but from then on they
 * cannot rasterise new glyphs, so texture_font_get_glyph() returns null for
 * any character not loaded before. This lets a caller upload the atlas once,
 * free it and keep using the font for layout.
 */
FTGL64_API void texture_atlas_delete(texture_atlas_t* atlas);

/*
 * Reports the bounding box of the atlas texels written since the previous
 * call (or since creation) and clears it, so a caller can update only that
 * part of its texture after glyphs were loaded on demand.
 * Returns 1 and fills the outputs (x, y of the top-left texel, w, h in
 * texels) when something was written, 0 and zeros otherwise. Any output
 * pointer may be null. A null atlas returns 0.
 */
FTGL64_API int texture_atlas_take_dirty(texture_atlas_t* atlas, size_t* x, size_t* y, size_t* w, size_t* h);

/*
 * Opens `filename` with FreeType at an em size of `size` pixels (fractional
 * sizes allowed) to rasterise into `atlas`. Nothing is rasterised yet.
 *
 * Returns null when atlas or filename is null, size is not positive and
 * finite, the atlas depth is not 1 (glyphs are 8-bit coverage), or FreeType
 * cannot open the file or set the size. The atlas is not owned by the font.
 */
FTGL64_API texture_font_t* texture_font_new(texture_atlas_t* atlas, const char* filename, float size);

/*
 * Frees the font and all its glyph records. Does not free or change the
 * atlas; its pixels stay where they were. Null is ignored.
 */
FTGL64_API void texture_font_delete(texture_font_t* font);

/*
 * Loads the glyphs of every character of the null-terminated `charcodes`
 * (see texture_font_get_glyph()). Returns how many characters could not be
 * loaded: the font has no glyph for them or the atlas is full. 0 means all
 * were loaded. A null font counts every character as missed; null charcodes
 * returns 0.
 */
FTGL64_API size_t texture_font_load_glyphs(texture_font_t* font, const wchar_t* charcodes);

/*
 * Returns the glyph of `charcode`, rasterising it into the atlas the first
 * time it is asked for; later calls return the same record without touching
 * the atlas. The record is owned by the font.
 *
 * Returns null when font is null, charcode is 0, the face has no glyph for
 * the character, FreeType fails to render it, its bitmap would not fit the
 * atlas (judged from the outline before rendering), the atlas has no room
 * left or the atlas was deleted. A failure leaves the atlas and all existing
 * glyphs unchanged. A character the face has but that failed for any reason
 * other than lack of memory is remembered as missing: later calls return
 * null without loading or rendering it again.
 */
FTGL64_API texture_glyph_t* texture_font_get_glyph(texture_font_t* font, wchar_t charcode);

/*
 * Kerning to apply between the preceding character `charcode` and `glyph`,
 * in fractional pixels (negative moves `glyph` closer). Taken from the
 * face's kerning table, scaled but not rounded to whole pixels. 0 when the
 * pair has no kerning, the preceding character has not been loaded in the
 * same font, or glyph is null.
 */
FTGL64_API float texture_glyph_get_kerning(const texture_glyph_t* glyph, wchar_t charcode);

#ifdef __cplusplus
}
#endif

#endif /* FTGL64_TEXTURE_FONT_H */
