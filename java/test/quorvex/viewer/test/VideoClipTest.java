package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;

import java.nio.file.Files;
import java.nio.file.Path;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;
import quorvex.viewer.AnimationView.VideoClip;

/**
 * A clip at a non-ASCII path opened from a Java string on both loader paths, one frame drawn and
 * probed (native tests prove frame accuracy). Its frames are white top-left, black bottom-left,
 * and white on the right in odd frames. Tolerance 48 per channel (lossy codec).
 */
public class VideoClipTest {
    private static final int TOLERANCE = 48;
    @Rule
    public final GLTestCanvas canvas = new GLTestCanvas(128, 96);
    @Rule
    public final TemporaryFolder folder = new TemporaryFolder();

    private static Path makeClip(Path dir) throws Exception {
        Path plain = dir.resolve("clip.mp4"); // ffmpeg gets an ASCII name; Java renames it
        Process p = new ProcessBuilder("ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", "nullsrc=s=64x48:r=25",
                "-vf", "format=yuv444p,geq=lum='if(lt(X,32),if(lt(Y,24),235,16),if(mod(N,2),235,16))':cb=128:cr=128,format=yuv420p",
                "-frames:v", "10", "-c:v", "libx264", "-preset", "veryfast", "-f", "mp4", plain.toString())
                .redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.DISCARD).start();
        assertEquals("ffmpeg exit status", 0, p.waitFor());
        return Files.move(plain, dir.resolve("szene-\u00e9\u6f22\u5b57.mp4"));
    }

    @Test
    public void playsAClipFromANonAsciiPath() throws Exception {
        Path path = makeClip(folder.getRoot().toPath());
        for (String loader : new String[] {"ffmpegloader", null}) { // null: the MPEG loader
            long clip = VideoClip.initcobj(path.toString(), loader);
            assertNotEquals("opened with " + loader, 0L, clip);
            VideoClip.setDisplayFrame(clip, false);
            canvas.clear(0.5f, 0.5f, 0.5f);
            assertEquals(3, VideoClip.loadNextFrame(clip, 3));
            VideoClip.drawVideoTexture(clip, 0, 0, 128, 96, 0, 0, 64, 48);
            canvas.assertPixel(32, 24, 255, 255, 255, TOLERANCE);
            canvas.assertPixel(32, 72, 0, 0, 0, TOLERANCE);
            canvas.assertPixel(96, 48, 255, 255, 255, TOLERANCE);
            VideoClip.release(clip);
        }
    }
}
