package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;
import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.AnimationView.VideoClip;
import quorvex.viewer.AnimationView.VideoPlay;

/**
 * VideoClip and VideoPlay from Java: every native reached (handle 0 included),
 * a clip whose path is not ASCII, and one playback drawn into a JOGL canvas
 * and probed. The clip (made with the ffmpeg program) has a white top-left
 * and a black bottom-left quarter in every frame; its right half is white in
 * odd frames and black in even ones. Tolerance: 48 per channel (lossy codec).
 */
public class VideoClipTest {
    private static final int TOLERANCE = 48;
    private GLTestCanvas canvas;
    private Path dir;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() throws IOException {
        canvas = new GLTestCanvas(128, 96);
        canvas.clear(0.5f, 0.5f, 0.5f);
        dir = Files.createTempDirectory("qvvideo");
    }

    @After
    public void close() throws IOException {
        canvas.close();
        try (Stream<Path> files = Files.walk(dir)) {
            files.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
        }
    }

    private Path makeClip(String name) throws IOException, InterruptedException {
        Path clip = dir.resolve(name);
        Path plain = dir.resolve("clip.mp4"); // ffmpeg gets an ASCII name; Java renames it
        Process p = new ProcessBuilder("ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                "nullsrc=s=64x48:r=25", "-vf",
                "format=yuv444p,geq=lum='if(lt(X,32),if(lt(Y,24),235,16),if(mod(N,2),235,16))':cb=128:cr=128,"
                        + "format=yuv420p",
                "-frames:v", "10", "-c:v", "libx264", "-preset", "veryfast", "-f", "mp4", plain.toString())
                .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        assertEquals("ffmpeg exit status", 0, p.waitFor());
        return Files.move(plain, clip);
    }

    private void drawAndProbe(long clip, int frame) {
        canvas.clear(0.5f, 0.5f, 0.5f);
        assertEquals(frame, VideoClip.loadNextFrame(clip, frame));
        VideoClip.drawVideoTexture(clip, 0, 0, 128, 96, 0, 0, 64, 48);
        int right = frame % 2 == 1 ? 255 : 0;
        assertTrue(canvas.describe(32, 24), canvas.pixelNear(32, 24, 255, 255, 255, TOLERANCE));
        assertTrue(canvas.describe(32, 72), canvas.pixelNear(32, 72, 0, 0, 0, TOLERANCE));
        assertTrue(canvas.describe(96, 48), canvas.pixelNear(96, 48, right, right, right, TOLERANCE));
    }

    @Test
    public void playsAClipWithANonAsciiPathUpright() throws Exception {
        Path path = makeClip("szene-Blickverlauf-\u00e9\u6f22\u5b57.mp4");
        long clip = VideoClip.initcobj(path.toString(), "ffmpegloader");
        assertNotEquals("clip opened", 0L, clip);
        assertEquals(64, VideoClip.getWidth(clip));
        assertEquals(48, VideoClip.getHeight(clip));
        VideoClip.setDisplayFrame(clip, false);
        drawAndProbe(clip, 3);
        drawAndProbe(clip, 8);
        drawAndProbe(clip, 0);
        assertTrue("past the end", VideoClip.loadNextFrame(clip, 10) < 0);
        // The plug-in's table entries, reached with a Java string; -2 when it has none.
        int got = VideoClip.GetVideoTable(clip, "tabelle-\u00fc.txt");
        int set = VideoClip.SetVideoTable(clip, "tabelle-\u00fc.txt");
        assertTrue("GetVideoTable " + got, got == -2 || got >= -1);
        assertTrue("SetVideoTable " + set, set == -2 || set >= -1);
        VideoClip.release(clip);
        assertEquals("no GL error", 0, canvas.glError());
    }

    @Test
    public void theMpegLoaderTakesANullLoaderName() throws Exception {
        Path path = makeClip("mpeg-\u00f8.mp4");
        long clip = VideoClip.initcobj(path.toString(), null);
        assertNotEquals("clip opened", 0L, clip);
        drawAndProbe(clip, 0);
        drawAndProbe(clip, 1);
        assertEquals("the frame already shown answers 2", 2, VideoClip.loadNextFrame(clip, 1));
        assertEquals(-2, VideoClip.GetVideoTable(clip, "x"));
        assertEquals(-2, VideoClip.SetVideoTable(clip, "x"));
        VideoClip.release(clip);
    }

    @Test
    public void handleZeroAndBadStringsFail() {
        assertEquals(0L, VideoClip.initcobj(null, null));
        assertEquals(0L, VideoClip.initcobj("", "ffmpegloader"));
        assertEquals(0L, VideoClip.initcobj(dir.resolve("missing-\u00e4.mp4").toString(), "ffmpegloader"));
        assertEquals(0L, VideoClip.initcobj(dir.toString() + "/" + "a".repeat(1100), "ffmpegloader"));
        assertEquals(0L, VideoClip.initcobj(dir.toString(), "vfwloader"));
        VideoClip.release(0);
        assertTrue(VideoClip.loadNextFrame(0, 0) < 0);
        assertEquals(0, VideoClip.getWidth(0));
        assertEquals(0, VideoClip.getHeight(0));
        VideoClip.setDisplayFrame(0, true);
        VideoClip.drawVideoTexture(0, 0, 0, 128, 96, 0, 0, 64, 48);
        assertTrue("nothing drawn", canvas.pixelNear(64, 48, 128, 128, 128, 1));
        assertEquals(-2, VideoClip.GetVideoTable(0, null));
        assertEquals(-2, VideoClip.SetVideoTable(0, "x"));
        assertEquals(0, VideoClip.getVideoTextrueJni());
        VideoClip.setVideoSource(true);
        VideoClip.drawVideo(0, 1, 2, 3, 4, 5);
        VideoClip.drawFrameNo(1, 2, 3, 4, 5);

        long env = VideoPlay.initVideoEnvironment();
        assertNotEquals(0L, env);
        for (long handle : new long[] {env, 0L}) {
            VideoPlay.beginPaint(canvas, handle);
            VideoPlay.clear(handle, 0xff0000);
            VideoPlay.reclear(handle);
            VideoPlay.updateTimeDrawingProperties(handle, 0xffffff, 10, 20);
            VideoPlay.drawOval(handle, 1000, 0xff00ff, 5, 5, 64, 48);
            VideoPlay.endPaint(handle);
        }
        assertTrue("the no-op calls draw nothing", canvas.pixelNear(64, 48, 128, 128, 128, 1));
        assertEquals("no GL error", 0, canvas.glError());
    }
}
