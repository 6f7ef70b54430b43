package quorvex.viewer.AnimationView;

/**
 * Exports the playback view as a movie: start an export, ask for one frame
 * after each redraw of the canvas (with its GL context current), close it.
 * The library starts the encoder program (element 0 of the argument array;
 * a bare name is looked for beside the library first) at the second frame
 * request and streams the frames to it.
 */
public class VideoPlaybackMovieCreator {
    /** Native handle of the export in progress (0 when none), written by the library. */
    private long qxvideosave;

    /**
     * Starts an export to {@code file} at {@code framerate} frames per second;
     * {@code array} holds 1 to 20 strings, the first naming the encoder.
     * An export that is refused (bad arguments) still answers true, and its
     * frames then fail. False only without a current GL context.
     */
    public native boolean initSaveVideo(Object comp, String file, int width, int height, int framerate,
                                        String codec, String[] array);

    /**
     * Sends the current view as the next frame (the first request of an
     * export only arms it). 0 when done; nonzero when the export is refused or
     * its encoder is gone. {@code srcw} and {@code srch} both 0 close the export.
     */
    public native int saveFrame(Object comp, int srcw, int srch);

    /** Ends the movie and stops the encoder; true (also when idle). */
    public native boolean closeAVI();
}
