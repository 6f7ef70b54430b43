package quorvex.viewer.AnimationView;

/**
 * A scene-video clip opened through a decoder plug-in; its current frame lives
 * in a GL texture of the caller's current context.
 */
public final class VideoClip {
    private VideoClip() {}

    /** Opens a clip through the plug-in "lib&lt;loaderdllname&gt;.so", or the MPEG loader when null; 0 on failure. */
    public static native long initcobj(String path, String loaderdllname);
    /** Destroys the clip and its texture. */
    public static native void release(long cobj);
    /** Brings frame {@code frame} (0-based) into the clip's texture; negative when there is none. */
    public static native int loadNextFrame(long cobj, int frame);
    public static native int getWidth(long cobj);
    public static native int getHeight(long cobj);
    public static native void setDisplayFrame(long cobj, boolean v);
    /** Draws the frame's source rectangle (c_x, c_y, c_w, c_h) into the screen rectangle (x, y, w, h). */
    public static native void drawVideoTexture(long cobj, int x, int y, int w, int h, int c_x, int c_y, int c_w, int c_h);
    public static native int GetVideoTable(long cobj, String filename);
    public static native int SetVideoTable(long cobj, String filename);
    public static native int getVideoTextrueJni();
    public static native void setVideoSource(boolean fromScreenCapture);
    public static native void drawVideo(long cobj, int vobj, int locx, int locy, int origw, int origh);
    public static native void drawFrameNo(int locx, int locy, int w, int h, int no);
}
