package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.awt.image.BufferedImage;
import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Comparator;
import java.util.stream.Stream;
import javax.imageio.ImageIO;
import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLCacheDrawing;
import quorvex.viewer.OverlayView.GLImage;
import quorvex.viewer.OverlayView.GLPolygon;

/**
 * A stimulus image behind polygons, saved through GLCacheDrawing and read
 * back with javax.imageio. Tolerance: exact against the canvas's own pixels.
 */
public class GLCacheDrawingTest {
    private GLTestCanvas canvas;
    private Path dir;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() throws IOException {
        canvas = new GLTestCanvas(320, 240);
        canvas.clear(0, 0, 0);
        dir = Files.createTempDirectory("qvcache");
    }

    @After
    public void close() throws IOException {
        GLImage.ReleaseAllTexture();
        canvas.close();
        try (Stream<Path> files = Files.walk(dir)) {
            files.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
        }
    }

    @Test
    public void stimulusWithPolygonsIsSavedUpright() throws IOException {
        BufferedImage stimulus = new BufferedImage(64, 64, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < 64; y++) for (int x = 0; x < 64; x++) stimulus.setRGB(x, y, y < 32 ? 0x3366cc : 0xcc9933);
        File img = dir.resolve("stimulus.png").toFile();
        assertTrue(ImageIO.write(stimulus, "png", img));

        GLImage.DrawTexture(img.getPath(), 0, 0, 320, 240);
        canvas.gl().glColor3f(1f, 0f, 1f);
        assertEquals(1, GLPolygon.fillPolygonGLF(new float[] {200, 300, 300}, new float[] {20, 20, 100}, 3));

        long cache = GLCacheDrawing.intGLCache();
        assertNotEquals(0L, cache);
        GLCacheDrawing.beginCache(cache);
        GLCacheDrawing.endCache(cache);
        assertEquals(0, GLCacheDrawing.getTexture(cache));
        File out = dir.resolve("view.png").toFile();
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, out.getPath()));

        BufferedImage saved = ImageIO.read(out);
        assertNotNull(saved);
        assertEquals(320, saved.getWidth());
        assertEquals(240, saved.getHeight());
        int mismatches = 0;
        for (int y = 0; y < 240; y += 3) {
            for (int x = 0; x < 320; x += 3) {
                int[] p = canvas.pixel(x, y);
                int rgb = saved.getRGB(x, y) & 0xffffff;
                if (rgb != ((p[0] << 16) | (p[1] << 8) | p[2])) mismatches++;
            }
        }
        assertEquals(0, mismatches);
        assertEquals(0x3366cc, saved.getRGB(10, 10) & 0xffffff);
        assertEquals(0xcc9933, saved.getRGB(10, 230) & 0xffffff);
        assertEquals(0xff00ff, saved.getRGB(290, 30) & 0xffffff);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void badHandlesAndNamesSaveNothing() {
        assertEquals(0, GLCacheDrawing.saveBuffer(0L, dir.resolve("a.png").toString()));
        assertEquals(0, GLCacheDrawing.getTexture(0L));
        GLCacheDrawing.beginCache(0L);
        GLCacheDrawing.endCache(0L);
        long cache = GLCacheDrawing.intGLCache();
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, null));
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, ""));
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, dir.resolve("no-extension").toString()));
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, dir.toString()));
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, "/no/such/folder/x.png"));
        assertFalse(dir.resolve("no-extension").toFile().exists());
        assertEquals(0, canvas.glError());
    }
}
