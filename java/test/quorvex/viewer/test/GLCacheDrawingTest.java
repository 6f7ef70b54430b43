package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;

import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.file.Files;
import javax.imageio.ImageIO;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLCacheDrawing;
import quorvex.viewer.OverlayView.GLPolygon;

/**
 * A view with a polygon saved through GLCacheDrawing and read back with
 * javax.imageio. Tolerance: exact against the canvas's own pixels.
 */
public class GLCacheDrawingTest {
    @Test
    public void viewIsSavedUprightAndNamelessSavesSaveNothing() throws Exception {
        NativeLibrary.load();
        GLTestCanvas canvas = new GLTestCanvas(320, 240);
        File out = Files.createTempFile("qvcache", ".png").toFile();
        try {
            canvas.clear(0.2f, 0.4f, 0.8f);
            canvas.gl().glColor3f(1f, 0f, 1f);
            assertEquals(1, GLPolygon.fillPolygonGLF(new float[] {200, 300, 300}, new float[] {20, 20, 100}, 3));
            long cache = GLCacheDrawing.intGLCache();
            assertNotEquals(0L, cache);
            GLCacheDrawing.beginCache(cache);
            GLCacheDrawing.endCache(cache);
            assertEquals(1, GLCacheDrawing.saveBuffer(cache, out.getPath()));
            BufferedImage saved = ImageIO.read(out);
            assertNotNull(saved);
            assertEquals(320, saved.getWidth());
            assertEquals(240, saved.getHeight());
            int mismatches = 0;
            for (int y = 0; y < 240; y += 3) {
                for (int x = 0; x < 320; x += 3) {
                    int[] p = canvas.pixel(x, y);
                    mismatches += (saved.getRGB(x, y) & 0xffffff) != ((p[0] << 16) | (p[1] << 8) | p[2]) ? 1 : 0;
                }
            }
            assertEquals(0, mismatches);
            assertEquals(0xff00ff, saved.getRGB(290, 30) & 0xffffff);
            // Without a name nothing is saved, and the legacy answer is 1.
            assertEquals(1, GLCacheDrawing.saveBuffer(cache, null));
            assertEquals(1, GLCacheDrawing.saveBuffer(cache, ""));
            assertEquals(0, canvas.glError());
        } finally {
            canvas.close();
            out.delete();
        }
    }
}
