package quorvex.viewer.OverlayView;

import java.nio.ByteBuffer;

/**
 * Gaze heatmaps drawn on the GPU. Records are passed in a direct buffer in
 * native byte order, 40 bytes each: x, y, count (low 8 bits used) as ints,
 * then seven unread ints.
 */
public final class GLDirectBuffer {
    private GLDirectBuffer() {}

    /** A new heatmap scene for the current GL context; 0 when it cannot be built. */
    public static native long iniHeatmapBuffer_n(int w, int h);
    /** Replaces the heat image by {@code size} records of a w x h space; 1 when done. */
    public static native int updateHeatmapBuffer_n(long hobj, ByteBuffer buffer, int w, int h, int size);
    /** Blurs, colours and draws the cells written since the previous draw. */
    public static native void drawHeatmapBuffer_n(long hobj);
    /** Sets one cell to the low 8 bits of c. */
    public static native void updateHeatmapValue_n(long hobj, int c, int x, int y, int w, int h);
    public static native void deleteHeatmap_n(long hobj);
}
