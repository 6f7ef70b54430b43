package quorvex.viewer.OverlayView;

/** Interest-area polygons drawn into the current GL context. */
public final class GLPolygon {
    private GLPolygon() {}

    /** Outline as vertex pairs, inside a glBegin(GL_LINES) of the caller's. */
    public static native int drawPolygonGLI(int[] xs, int[] ys, int nums);
    public static native int drawPolygonGLF(float[] xs, float[] ys, int nums);
    /** Filled polygon (positive winding), tessellated by GLU. */
    public static native int fillPolygonGLF(float[] xs, float[] ys, int nums);
    public static native int fillPolygonGLI(int[] xs, int[] ys, int nums);
    public static native int drawQuadTexture(int w, int h);
}
