package quorvex.viewer.OverlayView;

/**
 * Fixation circles drawn into the current GL context: a set of nodes drawn by
 * one instanced call, single circles, and selection of the nodes under a window.
 */
public final class GLCircle {
    private GLCircle() {}

    /** A circle set for a canvas of w x h; 0 when it cannot be made. */
    public static native long intGLCirlce(int w, int h);
    /** Empties the set. */
    public static native long clearCircles(long cobj);
    /** Records a shader file path under its role ("vert1", "vert2", "frag1", "frag2"). */
    public static native long setShaders(long cobj, String shaderfile, String shadername);
    /** Builds the programs and uploads the nodes written so far. */
    public static native long createGraphic(long cobj);
    /** Filled circle at (x, y) with radii 2 * sx, 2 * sy; alpha 1.3. */
    public static native long fillSingleCircle(long cobj, float x, float y, float sx, float sy, float r, float g, float b);
    public static native long fillSingleCircle(long cobj, float x, float y, float sx, float sy, float r, float g, float b, float a);
    /** mode 0 outline, 1 filled, 2 dashed outline; ls is the line width. */
    public static native long drawSingleCircle(long cobj, float x, float y, float sx, float sy, float r, float g, float b, float ls, int mode);
    // The indexed add (native addCircle__IIFFFFFF) is not declared here: the JVM
    // binds every overload of addCircle to the unmangled export first, so an
    // overload would silently append instead. Native callers use it directly.
    /** Appends a node. */
    public static native long addCircle(long cobj, float x, float y, float size, float r, float g, float b);
    /** Moves and resizes node id and shows it. */
    public static native void updateCircle(long cobj, int id, float x, float y, float size, float r, float g, float b);
    /** Draws every node as an outline in its colour. */
    public static native void drawCircle(long cobj);
    /** Slots of the nodes under the window, in the order found (they turn black); null when selection cannot run. */
    public static native int[] selectCircle(long cobj, int x, int y, int w, int h);
    public static native int updateWindowSize(long cobj, int w, int h);
}
