package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.io.File;
import java.lang.reflect.Field;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashMap;
import java.util.Map;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;
import quorvex.viewer.AnimationView.VideoPlaybackMovieCreator;

/**
 * Movies exported from a JOGL canvas through the real encoder, probed and decoded with ffmpeg's
 * tools. Colour tolerance 40 per channel: both codecs store 4:2:0 YUV.
 */
public class VideoPlaybackMovieCreatorTest {
    private static final int W = 161, H = 121, RATE = 10; // odd view: a 160 x 120 movie
    private static final int[][] COLOURS = {{255, 0, 0}, {0, 200, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}};
    private static final String[] ENCODER = {"quorvex-encoder"};
    @Rule
    public final GLTestCanvas canvas = new GLTestCanvas(W, H);
    @Rule
    public final TemporaryFolder folder = new TemporaryFolder();

    /** Draws the view in `rgb` under a white band 16 rows high, and asks for a frame. */
    private int frame(VideoPlaybackMovieCreator creator, int[] rgb) {
        canvas.clear(rgb[0] / 255f, rgb[1] / 255f, rgb[2] / 255f);
        canvas.gl().glColor3f(1f, 1f, 1f);
        canvas.gl().glRectf(0, 0, W, 16);
        return creator.saveFrame(null, W, H);
    }

    private static byte[] run(String... command) throws Exception {
        Process p = new ProcessBuilder(command).redirectError(ProcessBuilder.Redirect.INHERIT).start();
        byte[] out = p.getInputStream().readAllBytes();
        assertEquals(Arrays.toString(command), 0, p.waitFor());
        return out;
    }

    /** The movie holds drawn[1..] (the first request is skipped), upright, at RATE. */
    private static void assertMovie(File movie, int[][] drawn) throws Exception {
        Map<String, String> p = new HashMap<>();
        for (String line : new String(run("ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                "-show_entries", "stream=width,height,r_frame_rate,nb_read_frames,duration:format=duration",
                "-of", "default=noprint_wrappers=1", movie.getPath()), StandardCharsets.UTF_8).split("\n")) {
            String[] kv = line.split("=", 2);
            if (kv.length == 2 && !kv[1].equals("N/A")) p.putIfAbsent(kv[0], kv[1]);
        }
        int frames = drawn.length - 1;
        String what = movie.getName() + " " + p;
        assertEquals(what, "160x120", p.get("width") + "x" + p.get("height"));
        assertEquals(what, RATE + "/1", p.get("r_frame_rate"));
        assertEquals(what, String.valueOf(frames), p.get("nb_read_frames"));
        assertEquals(what, (double) frames / RATE, Double.parseDouble(p.get("duration")), 0.5 / RATE);

        byte[] rgb = run("ffmpeg", "-v", "error", "-i", movie.getPath(), "-f", "rawvideo", "-pix_fmt", "rgb24", "-");
        int frameBytes = 160 * 120 * 3;
        assertEquals(what, frames * frameBytes, rgb.length);
        for (int f = 0; f < frames; f++) {
            for (int c = 0; c < 3; c++) {
                int body = rgb[f * frameBytes + (90 * 160 + 80) * 3 + c] & 0xff; // rows from the top
                int band = rgb[f * frameBytes + (4 * 160 + 80) * 3 + c] & 0xff;
                assertEquals(what + " frame " + f + " channel " + c, drawn[f + 1][c], body, 40);
                assertEquals(what + " frame " + f + " band channel " + c, 255, band, 40);
            }
        }
    }

    @Test
    public void exportsDrawnFramesInOrderAndASecondStartClosesTheFirst() throws Exception {
        VideoPlaybackMovieCreator creator = new VideoPlaybackMovieCreator();
        File mp4 = new File(folder.getRoot(), "movie.mp4"), avi = new File(folder.getRoot(), "movie.avi");
        assertTrue(creator.initSaveVideo(null, mp4.getPath(), W, H, RATE, "h264", ENCODER));
        for (int[] colour : COLOURS) assertEquals(0, frame(creator, colour));

        String[] twenty = Collections.nCopies(20, ENCODER[0]).toArray(new String[0]); // the most allowed; all but the first unused
        int[][] reversed = {COLOURS[4], COLOURS[3], COLOURS[2], COLOURS[1], COLOURS[0]};
        assertTrue(creator.initSaveVideo(null, avi.getPath(), W, H, RATE, "mpeg4", twenty));
        for (int[] colour : reversed) assertEquals(0, frame(creator, colour));
        assertTrue(creator.closeAVI());
        assertMovie(mp4, COLOURS);
        assertMovie(avi, reversed);
    }

    @Test
    public void refusedStartsFailTheirFramesAndIdleCallsDoNothing() throws Exception {
        VideoPlaybackMovieCreator creator = new VideoPlaybackMovieCreator();
        Field handle = VideoPlaybackMovieCreator.class.getDeclaredField("qxvideosave");
        handle.setAccessible(true);
        assertEquals(0, creator.saveFrame(null, W, H));
        assertTrue(creator.closeAVI());
        String movie = new File(folder.getRoot(), "refused.mp4").getPath();
        String[] tooMany = Collections.nCopies(21, ENCODER[0]).toArray(new String[0]);
        Object[][] cases = {
            {movie, RATE, null}, {movie, RATE, new String[0]}, {movie, RATE, tooMany},
            {movie, RATE, new String[] {null}}, {null, RATE, ENCODER}, {"", RATE, ENCODER}, {movie, 0, ENCODER},
        };
        for (Object[] c : cases) {
            String what = Arrays.deepToString(c);
            assertTrue(what, creator.initSaveVideo(null, (String) c[0], W, H, (Integer) c[1], "h264", (String[]) c[2]));
            assertEquals(what, 0L, handle.getLong(creator));
            assertNotEquals(what, 0, frame(creator, COLOURS[0]));
            assertNotEquals(what, 0, frame(creator, COLOURS[1]));
            assertTrue(what, creator.closeAVI());
            assertEquals(what, 0, frame(creator, COLOURS[0]));
            assertFalse(what, new File(movie).exists());
        }
    }
}
