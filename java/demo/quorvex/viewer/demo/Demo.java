package quorvex.viewer.demo;

import com.jogamp.newt.opengl.GLWindow;
import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import com.jogamp.opengl.GLCapabilities;
import com.jogamp.opengl.GLContext;
import com.jogamp.opengl.GLProfile;

import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Random;

import quorvex.viewer.AnimationView.VideoClip;
import quorvex.viewer.AnimationView.VideoPlay;
import quorvex.viewer.AnimationView.VideoPlaybackMovieCreator;
import quorvex.viewer.OverlayView.GLCacheDrawing;
import quorvex.viewer.OverlayView.GLCircle;
import quorvex.viewer.OverlayView.GLDirectBuffer;
import quorvex.viewer.OverlayView.GLFont;
import quorvex.viewer.OverlayView.GLImage;
import quorvex.viewer.OverlayView.GLPolygon;
import quorvex.viewer.Utils;

/**
 * A recording view drawn by the native library into a JOGL window the way the viewer's canvas
 * drives it: first the still stimulus with the whole recording over it (saved as a PNG), then the
 * scene video played frame by frame with the overlays of the recording up to each frame's time,
 * exported as a movie through the library's encoder and checked with ffprobe.
 */
public final class Demo {
    static final int WIDTH = 800;
    static final int HEIGHT = 600;
    static final int RATE = 25;
    static final int FRAMES = 100;
    /** Frames of the playback saved as PNG besides the movie. */
    static final int[] SAVED_FRAMES = {0, 30, 60, FRAMES - 1};

    /** Interest areas of the demo recording: a title band, a picture and an L-shaped caption area. */
    static final float[][][] AREAS = {
        {{60, 740, 740, 60}, {40, 40, 110, 110}},
        {{80, 420, 420, 80}, {160, 160, 520, 520}},
        {{470, 740, 740, 620, 620, 470}, {160, 160, 520, 520, 300, 300}},
    };

    /** Fixations of the demo recording: x, y, duration in ms. */
    static final float[][] FIXATIONS = {
        {120, 75, 180}, {300, 70, 240}, {520, 78, 200}, {690, 72, 160},
        {180, 240, 420}, {300, 300, 520}, {250, 420, 300}, {360, 470, 260},
        {540, 210, 350}, {660, 240, 280}, {690, 400, 380}, {680, 480, 220},
    };

    /** Start of each fixation in ms: one after the other, 30 ms of saccade between them. */
    static final float[] STARTS = new float[FIXATIONS.length];
    static {
        float t = 0;
        for (int i = 0; i < FIXATIONS.length; i++) {
            STARTS[i] = t;
            t += FIXATIONS[i][2] + 30;
        }
    }

    /** Time that shows the whole recording (the still view). */
    static final float END = Float.MAX_VALUE;

    /** The selection window over the picture's sun in the still, in canvas pixels (y down). */
    static final int[] SELECTION = {255, 235, 100, 100};

    static final int HEAT_PER_FIXATION = 6;

    long circles;
    long heatmap;
    long font;
    /** Gaze cells around each fixation, fixed for the run; each gains weight while its fixation lasts. */
    final int[][] heatCells = new int[FIXATIONS.length * HEAT_PER_FIXATION][];
    final ByteBuffer heatRecords =
            ByteBuffer.allocateDirect(heatCells.length * 40).order(ByteOrder.nativeOrder());

    public static void main(String[] args) {
        try {
            run(new File(args.length > 0 ? args[0] : "."));
        } catch (Throwable e) {
            e.printStackTrace();
            System.exit(1);
        }
        System.exit(0);
    }

    static void run(File out) throws Exception {
        System.load(System.getProperty("quorvex.library"));
        out.mkdirs();
        System.out.println("library: " + Utils.getExeDir());
        File stimulus = Scene.writeStill(new File(out, "stimulus.png"), WIDTH, HEIGHT);
        long start = System.nanoTime();
        File scene = Scene.writeVideo(new File(out, "scene.mp4"), WIDTH, HEIGHT, FRAMES, RATE);
        System.out.println(String.format("scene video %s: %d frames of %dx%d at %d frames/s, written in %.1f s",
                scene.getPath(), FRAMES, WIDTH, HEIGHT, RATE, (System.nanoTime() - start) / 1e9));

        GLCapabilities caps = new GLCapabilities(GLProfile.get(GLProfile.GL2));
        caps.setDoubleBuffered(false); // the movie export reads the front buffer
        GLWindow window = GLWindow.create(caps);
        window.setTitle("Quorvex viewer demo");
        window.setSize(WIDTH, HEIGHT);
        window.setVisible(true);
        window.display();
        GLContext context = window.getContext();
        if (context.makeCurrent() == GLContext.CONTEXT_NOT_CURRENT) {
            throw new IllegalStateException("cannot make the window's GL context current");
        }
        File movie = new File(out, "recording.mp4");
        try {
            GL2 gl = context.getGL().getGL2();
            System.out.println("GL: " + gl.glGetString(GL.GL_RENDERER) + " / " + gl.glGetString(GL.GL_VERSION));
            Demo demo = new Demo();
            demo.setUp(gl);
            demo.drawStill(gl, stimulus, new File(out, "recording-view.png"));
            demo.play(gl, window, scene, movie, out);
            demo.tearDown();
        } finally {
            context.release();
            window.destroy();
        }
        MovieCheck.expect(movie, FRAMES, WIDTH, HEIGHT, RATE);
    }

    void setUp(GL2 gl) {
        canvasProjection(gl);
        heatmap = GLDirectBuffer.iniHeatmapBuffer_n(WIDTH, HEIGHT);
        if (heatmap == 0) {
            throw new IllegalStateException("the heatmap scene could not be built");
        }
        Random random = new Random(7);
        for (int k = 0; k < heatCells.length; k++) {
            float[] f = FIXATIONS[k / HEAT_PER_FIXATION];
            heatCells[k] = new int[] {(int) Math.round(f[0] + random.nextGaussian() * 6),
                                      (int) Math.round(f[1] + random.nextGaussian() * 6)};
        }
        circles = fixationSet(gl);
        font = GLFont.intGLFont("arial.ttf", 16);
        if (font == 0) {
            throw new IllegalStateException("no font for the labels");
        }
    }

    void tearDown() {
        GLDirectBuffer.deleteHeatmap_n(heatmap);
    }

    /** The still stimulus with the whole recording over it, as the viewer shows a picture trial. */
    void drawStill(GL2 gl, File stimulus, File png) {
        gl.glClearColor(0.12f, 0.12f, 0.14f, 1f);
        gl.glClear(GL.GL_COLOR_BUFFER_BIT | GL.GL_DEPTH_BUFFER_BIT);
        gl.glColor4f(1f, 1f, 1f, 1f);
        GLImage.DrawTexture(stimulus.getPath(), 0, 0, WIDTH, HEIGHT);
        if (GLImage.GetTexture(stimulus.getPath()) == 0) {
            throw new IllegalStateException("the stimulus was not loaded");
        }
        drawOverlays(gl, END, -1);
        gl.glFinish();
        save(png);
    }

    /**
     * Plays the scene video through the "ffmpegloader" plug-in, each frame with the overlays of
     * its time, and exports what the window shows after every frame.
     */
    void play(GL2 gl, GLWindow window, File scene, File movie, File out) {
        long clip = VideoClip.initcobj(scene.getPath(), "ffmpegloader");
        if (clip == 0) {
            throw new IllegalStateException("the scene video could not be opened: " + scene);
        }
        if (VideoClip.getWidth(clip) != WIDTH || VideoClip.getHeight(clip) != HEIGHT) {
            throw new IllegalStateException("the scene video is " + VideoClip.getWidth(clip) + "x"
                    + VideoClip.getHeight(clip));
        }
        long env = VideoPlay.initVideoEnvironment();
        movie.delete();
        VideoPlaybackMovieCreator creator = new VideoPlaybackMovieCreator();
        if (!creator.initSaveVideo(window, movie.getPath(), WIDTH, HEIGHT, RATE, "h264",
                new String[] {"quorvex-encoder"})) {
            throw new IllegalStateException("the movie export did not start");
        }
        // An export's first request only arms it, so asking once before the first frame is drawn
        // puts every played frame into the movie.
        if (creator.saveFrame(window, WIDTH, HEIGHT) != 0) {
            throw new IllegalStateException("the movie export was refused");
        }
        long start = System.nanoTime();
        try {
            for (int frame = 0; frame < FRAMES; frame++) {
                VideoPlay.beginPaint(window, env);
                int loaded = VideoClip.loadNextFrame(clip, frame);
                if (loaded != frame) {
                    throw new IllegalStateException("frame " + frame + " of the scene video gave " + loaded);
                }
                gl.glClear(GL.GL_COLOR_BUFFER_BIT | GL.GL_DEPTH_BUFFER_BIT);
                gl.glColor4f(1f, 1f, 1f, 1f);
                VideoClip.drawVideoTexture(clip, 0, 0, WIDTH, HEIGHT, 0, 0, WIDTH, HEIGHT);
                drawOverlays(gl, frame * 1000f / RATE, frame);
                VideoPlay.endPaint(env);
                gl.glFinish();
                for (int saved : SAVED_FRAMES) {
                    if (saved == frame) save(new File(out, String.format("frame-%03d.png", frame)));
                }
                if (creator.saveFrame(window, WIDTH, HEIGHT) != 0) {
                    throw new IllegalStateException("the movie export failed at frame " + frame);
                }
                if ((frame + 1) % RATE == 0 || frame + 1 == FRAMES) {
                    double seconds = (System.nanoTime() - start) / 1e9;
                    // One write per line: the encoder prints its progress to the same terminal.
                    System.out.println(String.format("exporting %s: %d/%d frames, %.1f frames/s", movie.getName(),
                            frame + 1, FRAMES, (frame + 1) / seconds));
                }
            }
        } finally {
            creator.closeAVI();
            VideoClip.release(clip);
        }
    }

    void drawOverlays(GL2 gl, float time, int frame) {
        drawHeatmap(time);
        drawInterestAreas(gl);
        drawFixations(gl, time);
        drawLabels(gl, time, frame);
    }

    void save(File png) {
        long cache = GLCacheDrawing.intGLCache();
        if (cache == 0 || GLCacheDrawing.saveBuffer(cache, png.getPath()) != 1 || !png.isFile()) {
            throw new IllegalStateException("the view was not saved to " + png);
        }
        System.out.println("saved " + png.getPath());
    }

    static void canvasProjection(GL2 gl) {
        gl.glViewport(0, 0, WIDTH, HEIGHT);
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, WIDTH, HEIGHT, 0, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        gl.glLoadIdentity();
    }

    /** How long fixation i has lasted at {@code time}: 0 before it starts, its duration after it. */
    static float elapsed(int i, float time) {
        return Math.max(0f, Math.min(FIXATIONS[i][2], time - STARTS[i]));
    }

    static boolean started(int i, float time) {
        return time >= STARTS[i];
    }

    static float radius(float duration) {
        return 6 + duration / 25f;
    }

    /** Where the eye is at {@code time}: on a fixation, or on the way between two; null before the first. */
    static float[] gazeAt(float time) {
        for (int i = FIXATIONS.length - 1; i >= 0; i--) {
            if (!started(i, time)) continue;
            float[] f = FIXATIONS[i];
            float away = time - STARTS[i] - f[2];
            if (away <= 0 || i + 1 == FIXATIONS.length) return new float[] {f[0], f[1]};
            float[] next = FIXATIONS[i + 1];
            float s = Math.min(1f, away / (STARTS[i + 1] - STARTS[i] - f[2]));
            return new float[] {f[0] + s * (next[0] - f[0]), f[1] + s * (next[1] - f[1])};
        }
        return null;
    }

    /**
     * Gaze cells around the fixations up to {@code time} (weight by time spent), passed as 40-byte
     * records in a direct buffer. The scene spreads each cell with a Gaussian of 16 cells, so a few
     * cells per fixation suffice.
     */
    void drawHeatmap(float time) {
        heatRecords.clear();
        int count = 0;
        for (int k = 0; k < heatCells.length; k++) {
            int weight = Math.min(255, (int) (elapsed(k / HEAT_PER_FIXATION, time) / 10));
            if (weight == 0) continue;
            heatRecords.putInt(heatCells[k][0]).putInt(heatCells[k][1]).putInt(weight).putInt(0);
            for (int i = 0; i < 6; i++) heatRecords.putInt(0);
            count++;
        }
        if (GLDirectBuffer.updateHeatmapBuffer_n(heatmap, heatRecords, WIDTH, HEIGHT, count) != 1) {
            throw new IllegalStateException("the heatmap did not take the gaze records");
        }
        GLDirectBuffer.drawHeatmapBuffer_n(heatmap);
    }

    /**
     * The recording's fixations as outlines plus the fixations of the rest of the group (a few
     * thousand, clustered on the same targets), drawn in one batched draw. The circles under the
     * selection window are picked on the GPU and turn black.
     */
    static long fixationSet(GL2 gl) {
        long set = GLCircle.intGLCirlce(WIDTH, HEIGHT);
        Random random = new Random(11);
        int group = 0;
        for (int k = 0; k < 3000; k++) {
            float[] target = FIXATIONS[random.nextInt(FIXATIONS.length)];
            float x = (float) (target[0] + random.nextGaussian() * 28);
            float y = (float) (target[1] + random.nextGaussian() * 22);
            float size = 3 + random.nextFloat() * 5;
            GLCircle.addCircle(set, x, y, size, 0.95f, 0.55f, 0.1f);
            group++;
        }
        for (float[] f : FIXATIONS) {
            GLCircle.addCircle(set, f[0], f[1], radius(f[2]), 0.85f, 0.15f, 0.35f);
        }
        GLCircle.createGraphic(set);
        // Selection takes window coordinates (y up, lower-left corner).
        int[] selected = GLCircle.selectCircle(set, SELECTION[0], HEIGHT - SELECTION[1] - SELECTION[3],
                SELECTION[2], SELECTION[3]);
        System.out.println(group + FIXATIONS.length + " fixation circles, " + (selected == null ? 0 : selected.length)
                + " selected under the window");
        canvasProjection(gl);
        return set;
    }

    /**
     * The fixations up to {@code time} filled (the current one growing while it lasts), the
     * batched outlines, the selection window, the scanpath so far and the eye's position.
     */
    void drawFixations(GL2 gl, float time) {
        gl.glEnable(GL.GL_BLEND);
        gl.glBlendFunc(GL.GL_SRC_ALPHA, GL.GL_ONE_MINUS_SRC_ALPHA);
        for (int i = 0; i < FIXATIONS.length; i++) {
            if (!started(i, time)) continue;
            float[] f = FIXATIONS[i];
            float r = radius(elapsed(i, time));
            boolean current = elapsed(i, time) < f[2];
            // fillSingleCircle scales the unit template by sx / 100 (radius 2 x sx).
            GLCircle.fillSingleCircle(circles, f[0], f[1], r / 2, r / 2, 0.85f, 0.15f, 0.35f, current ? 0.55f : 0.3f);
        }
        canvasProjection(gl);
        GLCircle.drawCircle(circles);
        gl.glColor4f(0.1f, 0.1f, 0.1f, 0.9f);
        int[] w = SELECTION;
        float[] wx = {w[0], w[0] + w[2], w[0] + w[2], w[0]};
        float[] wy = {w[1], w[1], w[1] + w[3], w[1] + w[3]};
        gl.glLineWidth(1f);
        gl.glBegin(GL.GL_LINES);
        GLPolygon.drawPolygonGLF(wx, wy, 4);
        gl.glEnd();
        float[] gaze = gazeAt(time);
        gl.glColor4f(0.85f, 0.15f, 0.35f, 0.8f);
        gl.glBegin(GL.GL_LINE_STRIP);
        for (int i = 0; i < FIXATIONS.length && started(i, time); i++) gl.glVertex2f(FIXATIONS[i][0], FIXATIONS[i][1]);
        if (gaze != null) gl.glVertex2f(gaze[0], gaze[1]);
        gl.glEnd();
        if (gaze != null && time != END) {
            GLCircle.drawSingleCircle(circles, gaze[0], gaze[1], 7, 7, 0.1f, 0.3f, 0.95f, 3f, 0);
            GLCircle.fillSingleCircle(circles, gaze[0], gaze[1], 1.5f, 1.5f, 0.1f, 0.3f, 0.95f, 1f);
        }
        gl.glLineWidth(1f);
        gl.glDisable(GL.GL_BLEND);
    }

    /**
     * Fixation numbers (so far), area names and, while playing, the frame and its time; the font
     * falls back to the Ubuntu Mono beside the library. Glyph boxes grow from the pen towards +y,
     * so labels are drawn in a y-up projection.
     */
    void drawLabels(GL2 gl, float time, int frame) {
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, WIDTH, 0, HEIGHT, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        for (int i = 0; i < FIXATIONS.length && started(i, time); i++) {
            float[] f = FIXATIONS[i];
            GLFont.drawText(font, f[0] + radius(f[2]) + 2, HEIGHT - f[1], Integer.toString(i + 1), 0.1f, 0.1f, 0.15f);
        }
        String[] names = {"Titel", "Bild", "Légende"};
        for (int i = 0; i < AREAS.length; i++) {
            GLFont.drawText(font, AREAS[i][0][0] + 4, HEIGHT - AREAS[i][1][0] + 4, names[i], 0.2f, 0.45f, 0.8f);
        }
        if (frame >= 0) {
            GLFont.drawText(font, 60, 12, String.format("frame %d  %.2f s", frame, time / 1000f), 0.1f, 0.1f, 0.15f);
        }
        canvasProjection(gl);
    }

    static void drawInterestAreas(GL2 gl) {
        gl.glEnable(GL.GL_BLEND);
        gl.glBlendFunc(GL.GL_SRC_ALPHA, GL.GL_ONE_MINUS_SRC_ALPHA);
        for (float[][] area : AREAS) {
            gl.glColor4f(0.2f, 0.6f, 1f, 0.25f);
            GLPolygon.fillPolygonGLF(area[0], area[1], area[0].length);
            gl.glColor4f(0.3f, 0.7f, 1f, 1f);
            gl.glLineWidth(2f);
            gl.glBegin(GL.GL_LINES);
            GLPolygon.drawPolygonGLF(area[0], area[1], area[0].length);
            gl.glEnd();
        }
        gl.glLineWidth(1f);
        gl.glDisable(GL.GL_BLEND);
    }
}
