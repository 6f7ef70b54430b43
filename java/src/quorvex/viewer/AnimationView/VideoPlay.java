package quorvex.viewer.AnimationView;

/** The playback view's environment; its painting calls have no native effect. */
public final class VideoPlay {
    private VideoPlay() {}

    public static native long initVideoEnvironment();
    public static native void beginPaint(Object component, long cobj);
    public static native void endPaint(long cobj);
    public static native void reclear(long cobj);
    public static native void clear(long cobj, int rgb);
    public static native void updateTimeDrawingProperties(long cobj, int color, int xpos, int ypos);
    public static native void drawOval(long cobj, int time, int color, int locx, int locy, int origw, int origh);
}
