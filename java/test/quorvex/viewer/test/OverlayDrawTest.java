package quorvex.viewer.test;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Arrays;
import java.util.stream.IntStream;
import javax.imageio.ImageIO;
import org.junit.Rule;
import org.junit.Test;
import org.junit.rules.TemporaryFolder;
import quorvex.viewer.OverlayView.GLCacheDrawing;
import quorvex.viewer.OverlayView.GLCircle;
import quorvex.viewer.OverlayView.GLDirectBuffer;
import quorvex.viewer.OverlayView.GLFont;
import quorvex.viewer.OverlayView.GLImage;
import quorvex.viewer.OverlayView.GLPolygon;

/** One end-to-end draw per overlay class from Java arrays, strings and buffers; the rest is tested natively. */
public class OverlayDrawTest {
    @Rule
    public final GLTestCanvas canvas = new GLTestCanvas(512, 512);
    @Rule
    public final TemporaryFolder folder = new TemporaryFolder();

    /** Tolerance 0: a concave fill from Java float arrays (int arrays and counts past them: tests/boundary). */
    @Test
    public void polygonsFromJavaArrays() {
        canvas.clear(0, 0, 0);
        canvas.gl().glColor3f(1f, 1f, 0f);
        float[] xs = {20, 180, 180, 120, 120, 80, 80, 20};
        float[] ys = {20, 20, 180, 180, 80, 80, 180, 180};
        assertEquals(1, GLPolygon.fillPolygonGLF(xs, ys, xs.length));
        canvas.assertPixel(40, 150, 255, 255, 0, 0);
        canvas.assertPixel(100, 150, 0, 0, 0, 0); // the notch
    }

    /** Tolerance 1: an image whose name is beyond ASCII (placement: TextureManagerTest). */
    @Test
    public void imageNamedByAJavaString() throws Exception {
        canvas.clear(0, 0, 0);
        File file = folder.newFile("Reiz \u00e9t\u00e9 \u0416.png");
        BufferedImage img = new BufferedImage(64, 64, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++)
                img.setRGB(x, y, y >= 32 ? (x >= 32 ? 0xffffff : 0x0000ff) : (x >= 32 ? 0x00ff00 : 0xff0000));
        assertTrue(ImageIO.write(img, "png", file));
        canvas.gl().glGenTextures(1, new int[1], 0); // so the image's texture is not name 1
        // GetTexture answers the GL texture name: bound, it has the image's width.
        int[] width = new int[1];
        canvas.gl().glBindTexture(GL.GL_TEXTURE_2D, (int) GLImage.GetTexture(file.getPath()));
        canvas.gl().glGetTexLevelParameteriv(GL.GL_TEXTURE_2D, 0, GL2.GL_TEXTURE_WIDTH, width, 0);
        canvas.gl().glBindTexture(GL.GL_TEXTURE_2D, 0);
        assertEquals(64, width[0]);
        GLImage.DrawTexture(file.getPath(), 20, 30, 128, 128);
        GLImage.ReleaseAllTexture();
        canvas.assertPixel(52, 62, 255, 0, 0, 1);
        canvas.assertPixel(116, 126, 255, 255, 255, 1);
    }

    /** Exact: the saved file, named by a Java string, read back with javax.imageio. */
    @Test
    public void viewSavedThroughTheCache() throws Exception {
        canvas.clear(0.2f, 0.4f, 0.8f);
        canvas.gl().glColor3f(1f, 0f, 1f);
        GLPolygon.fillPolygonGLF(new float[] {200, 300, 300}, new float[] {20, 20, 100}, 3);
        File file = new File(folder.getRoot(), "ansicht-\u00fc.png");
        long cache = GLCacheDrawing.intGLCache();
        assertNotEquals(0L, cache);
        assertEquals(1, GLCacheDrawing.saveBuffer(cache, file.getPath()));
        BufferedImage saved = ImageIO.read(file);
        assertEquals(0x3366cc, saved.getRGB(10, 10) & 0xffffff); // pixel for pixel natively (GLCacheTest)
        assertEquals(0xff00ff, saved.getRGB(290, 30) & 0xffffff);
    }

    /** Tolerance 0 on red, green and blue: nodes drawn and selected into Java arrays (single circles: CircleTest). */
    @Test
    public void circlesDrawnAndSelected() {
        canvas.clear(0, 0, 0);
        long circles = GLCircle.intGLCirlce(200, 200);
        assertNotEquals(0L, circles);
        assertNull("no selection before createGraphic", GLCircle.selectCircle(circles, 0, 0, 10, 10));
        assertEquals(1L, GLCircle.addCircle(circles, 100f, 100f, 10f, 1f, 0f, 0f));
        assertEquals(1L, GLCircle.addCircle(circles, 100f, 100f, 20f, 0f, 1f, 0f));
        assertEquals(1L, GLCircle.createGraphic(circles));
        GLCircle.drawCircle(circles);
        // The ring's rightmost point, or a neighbour across it: a smooth outline may land there.
        assertTrue(IntStream.rangeClosed(119, 121).anyMatch(x -> canvas.pixelNear(x, 100, 0, 255, 0, 0)));
        canvas.assertPixel(100, 85, 0, 0, 0, 0);
        assertArrayEquals(new int[] {1, 0}, GLCircle.selectCircle(circles, 98, 98, 4, 4));
        assertArrayEquals(new int[0], GLCircle.selectCircle(circles, 150, 150, 10, 10));
    }

    /** Tolerance 4: an isolated cell of count 100 is yellow at opacity 0.56 over blue; cells map 1:1 to pixels. */
    @Test
    public void heatmapFromADirectBuffer() {
        canvas.clear(0, 0, 1);
        long scene = GLDirectBuffer.iniHeatmapBuffer_n(512, 512);
        assertNotEquals(0L, scene);
        // A record of 40 bytes: x, y, count, then seven ints the library does not read.
        ByteBuffer b = ByteBuffer.allocateDirect(40).order(ByteOrder.nativeOrder());
        b.putInt(100).putInt(100).putInt(100);
        for (int i = 0; i < 7; i++) b.putInt(-1);
        // A size past the buffer's end reads only the record it holds.
        assertEquals(1, GLDirectBuffer.updateHeatmapBuffer_n(scene, b, 512, 512, Integer.MAX_VALUE));
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        canvas.assertPixel(100, 100, 143, 143, 112, 4);
        canvas.assertPixel(250, 480, 0, 0, 255, 0);
        // A heap buffer has no address to read.
        assertEquals(0, GLDirectBuffer.updateHeatmapBuffer_n(scene, ByteBuffer.allocate(400), 512, 512, 10));
        GLDirectBuffer.deleteHeatmap_n(scene);
    }

    /** {minX, minY, maxX, maxY, pixels within 3 of (r, g, b)} of the lit pixels, or null when none. */
    private int[] litBox(int r, int g, int b) {
        int size = canvas.width;
        ByteBuffer rgba = ByteBuffer.allocateDirect(size * size * 4);
        canvas.gl().glReadPixels(0, 0, size, size, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, rgba);
        int[] box = {size, size, -1, -1, 0};
        for (int i = 0; i < size * size; i++) {
            int x = i % size, y = size - 1 - i / size;
            int[] p = {rgba.get(4 * i) & 0xff, rgba.get(4 * i + 1) & 0xff, rgba.get(4 * i + 2) & 0xff};
            if (p[0] + p[1] + p[2] == 0) continue;
            boolean near = Math.abs(p[0] - r) <= 3 && Math.abs(p[1] - g) <= 3 && Math.abs(p[2] - b) <= 3;
            box = new int[] {Math.min(box[0], x), Math.min(box[1], y), Math.max(box[2], x), Math.max(box[3], y),
                box[4] + (near ? 1 : 0)};
        }
        return box[2] < 0 ? null : box;
    }

    /** Tolerance 3 on fully covered pixels; without msttcorefonts the font is the bundled Ubuntu Mono. */
    @Test
    public void labelsFromJavaStrings() {
        canvas.clear(0, 0, 0);
        long font = GLFont.intGLFont("NoSuchFont-quorvex.ttf", 30);
        assertNotEquals("the bundled Ubuntu Mono should load", 0L, font);
        assertEquals(1, GLFont.drawText(font, 50.9f, 60.9f, "H\u00e9", 1f, 0.5f, 0f));
        // Pen at (50, 60), truncated; the glyph boxes grow towards +y from the pen; e-acute loads on demand.
        int[] box = litBox(255, 128, 0);
        assertTrue(Arrays.toString(box), box != null && box[0] >= 50 && box[2] < 110 && box[1] >= 60 && box[3] < 90
            && box[4] > 30);

        // Java strings: each of the two alone bad, an empty name, an unpaired surrogate.
        assertEquals(1L, GLFont.setShaders(font, "text.vs", "vert"));
        assertEquals(0L, GLFont.setShaders(font, null, "frag"));
        assertEquals(0L, GLFont.setShaders(font, "text.fs", null));
        for (String name : new String[] {"", "x".repeat(600)}) assertEquals(0L, GLFont.intGLFont(name, 20));
        assertEquals(0L, GLFont.intGLFont("NoSuchFont-quorvex.ttf", 0));
        assertEquals(0, GLFont.drawText(font, 10, 10, null, 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, Float.NaN, Float.POSITIVE_INFINITY, "x", 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, 10, 10, "", 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, 10, 10, "\ud800 unpaired \udfff", 1f, 1f, 1f));
    }
}
