package quorvex.viewer.OverlayView;

/**
 * Text labels drawn with a texture-atlas font into the current GL context.
 * A font handle lives until the process ends.
 */
public final class GLFont {
    private GLFont() {}

    /**
     * Loads the TrueType file of that name from the system's core fonts, or the
     * Ubuntu Mono font beside the library when it is missing; 0 on failure.
     */
    public static native long intGLFont(String fontfile, int size);
    /** Records a shader path for the type "vert" or "frag"; 1 when recorded. */
    public static native long setShaders(long fobj, String shaderFile, String shaderType);
    public static native void loadFont(long fobj);
    /** Reloads the font at the size clamped to 8..50 when it differs. */
    public static native void setFontSizes(long fobj, int size);
    /** Draws text with its pen at (x, y) in the colour (r, g, b); 1 when drawn. */
    public static native int drawText(long fobj, float x, float y, String text, float r, float g, float b);
    public static native void updateText(long fobj, int id, float x, float y, String text, float r, float g, float b);
}
