package quorvex.viewer.OverlayView;

/** Stimulus images drawn as textures, cached per GL context by file name. */
public final class GLImage {
    private GLImage() {}

    public static native void DrawTexture(String str, float x, float y, float w, float h);
    public static native void DrawTextureWithUpdate(String str, float x, float y, float w, float h);
    public static native void DrawBlendTexture(String str, float x, float y, float w, float h);
    public static native long GetTexture(String str);
    public static native void ReleaseAllTexture();
    /** Images taller than a texture, drawn as bands at the scale of their first draw. */
    public static native void DrawWebPageTexture(String str, float x, float y, float w, float h);
    public static native void clearLargeTexture();
}
