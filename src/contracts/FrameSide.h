/* The largest frame side, in pixels, that the library, the decoder plug-ins
 * and the encoder accept: frames are width x height x 4 bytes in int
 * arithmetic, and larger sizes are refused before anything is allocated.
 * Included by C and C++. */
#ifndef QV_CONTRACTS_FRAME_SIDE_H
#define QV_CONTRACTS_FRAME_SIDE_H

#define QV_MAX_FRAME_SIDE 16384

#endif
