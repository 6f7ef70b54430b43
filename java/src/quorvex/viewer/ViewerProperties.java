package quorvex.viewer;

/** Desktop integration of the viewer. */
public final class ViewerProperties {
    private ViewerProperties() {}

    /** Opens the document with the desktop's opener program; true when the opener process was started. */
    public static native boolean openDocument(String str);
}
