package quorvex.viewer.OverlayView;

/** Saves the current view as an image file through a native read-back cache. */
public final class GLCacheDrawing {
    private GLCacheDrawing() {}

    public static native long intGLCache();
    public static native void beginCache(long cobj);
    public static native void endCache(long cobj);
    public static native int getTexture(long cobj);
    public static native int saveBuffer(long cobj, String str);
}
