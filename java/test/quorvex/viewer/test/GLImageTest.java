package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
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
import quorvex.viewer.OverlayView.GLImage;

/**
 * Stimulus images written by javax.imageio and drawn through GLImage into a
 * JOGL canvas with the viewer's y-down projection. Tolerance: 1 per channel.
 */
public class GLImageTest {
    private GLTestCanvas canvas;
    private Path dir;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() throws IOException {
        canvas = new GLTestCanvas(256, 256);
        canvas.clear(0, 0, 0);
        dir = Files.createTempDirectory("qvimage");
    }

    @After
    public void close() throws IOException {
        GLImage.ReleaseAllTexture();
        GLImage.clearLargeTexture();
        canvas.close();
        try (Stream<Path> files = Files.walk(dir)) {
            files.sorted(Comparator.reverseOrder()).map(Path::toFile).forEach(File::delete);
        }
    }

    /** Quadrants red, green (top), blue, white (bottom). */
    private String quadrants(String name, String format, int w, int h) throws IOException {
        BufferedImage img = new BufferedImage(w, h, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < h; y++) {
            for (int x = 0; x < w; x++) {
                boolean right = x >= w / 2, bottom = y >= h / 2;
                int rgb = bottom ? (right ? 0xffffff : 0x0000ff) : (right ? 0x00ff00 : 0xff0000);
                img.setRGB(x, y, rgb);
            }
        }
        File f = dir.resolve(name).toFile();
        assertTrue(ImageIO.write(img, format, f));
        return f.getPath();
    }

    private String solid(String name, int rgb, int w, int h) throws IOException {
        BufferedImage img = new BufferedImage(w, h, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < h; y++) for (int x = 0; x < w; x++) img.setRGB(x, y, rgb);
        File f = dir.resolve(name).toFile();
        assertTrue(ImageIO.write(img, "png", f));
        return f.getPath();
    }

    private void assertPixel(int x, int y, int r, int g, int b) {
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, r, g, b, 1));
    }

    @Test
    public void drawsUprightInTheRectangleAndAtOwnSize() throws IOException {
        String png = quadrants("q.png", "png", 64, 64);
        GLImage.DrawTexture(png, 20, 30, 128, 128);
        assertPixel(52, 62, 255, 0, 0);
        assertPixel(116, 62, 0, 255, 0);
        assertPixel(52, 126, 0, 0, 255);
        assertPixel(116, 126, 255, 255, 255);
        assertPixel(10, 10, 0, 0, 0);

        canvas.clear(0, 0, 0);
        String jpg = quadrants("q.bmp", "bmp", 40, 40);
        GLImage.DrawTexture(jpg, 100, 100, 0, 0);
        assertPixel(105, 105, 255, 0, 0);
        assertPixel(139, 139, 255, 255, 255);
        assertPixel(141, 141, 0, 0, 0);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void cachedUntilDrawnWithUpdate() throws IOException {
        String p = solid("c.png", 0xff0000, 16, 16);
        long id = GLImage.GetTexture(p);
        assertNotEquals(0L, id);
        solid("c.png", 0x00ff00, 16, 16);
        GLImage.DrawTexture(p, 0, 0, 50, 50);
        assertPixel(25, 25, 255, 0, 0);
        assertEquals(id, GLImage.GetTexture(p));
        GLImage.DrawTextureWithUpdate(p, 0, 0, 50, 50);
        assertPixel(25, 25, 0, 255, 0);
        GLImage.ReleaseAllTexture();
        solid("c.png", 0x0000ff, 16, 16);
        GLImage.DrawTexture(p, 0, 0, 50, 50);
        assertPixel(25, 25, 0, 0, 255);
    }

    @Test
    public void blendedDrawIsModulatedByTheCurrentColour() throws IOException {
        String p = solid("w.png", 0xffffff, 8, 8);
        canvas.gl().glColor4f(0f, 1f, 1f, 1f);
        GLImage.DrawBlendTexture(p, 0, 0, 100, 100);
        assertPixel(50, 50, 0, 255, 255);
        assertPixel(150, 150, 0, 0, 0);
    }

    @Test
    public void tallPageIsDrawnInBands() throws IOException {
        int h = 9000;
        BufferedImage img = new BufferedImage(32, h, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < h; y++) {
            int rgb = (y / 1000) % 2 == 0 ? 0xff0000 : 0x0000ff;
            for (int x = 0; x < 32; x++) img.setRGB(x, y, rgb);
        }
        File f = dir.resolve("page.png").toFile();
        assertTrue(ImageIO.write(img, "png", f));
        for (int row : new int[] {500, 1500, 4500, 5500, 8500}) {
            canvas.clear(0, 0, 0);
            GLImage.DrawWebPageTexture(f.getPath(), 10, -(row - 100), 32, h);
            boolean red = (row / 1000) % 2 == 0;
            assertPixel(20, 100, red ? 255 : 0, 0, red ? 0 : 255);
        }
        GLImage.clearLargeTexture();
        canvas.clear(0, 0, 0);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void badFilesAndNamesDrawNothing() throws IOException {
        Path text = dir.resolve("notes.txt");
        Files.writeString(text, "not an image");
        Path fake = dir.resolve("fake.jpg");
        Files.write(fake, new byte[] {(byte) 0xff, (byte) 0xd8, (byte) 0xff, 1, 2, 3});
        Path empty = dir.resolve("empty.png");
        Files.write(empty, new byte[0]);
        Path folder = Files.createDirectory(dir.resolve("folder.png"));
        String[] names = {text.toString(), fake.toString(), empty.toString(), folder.toString(),
            dir.resolve("missing.png").toString(), "", "x".repeat(5000) + ".png"};
        for (String n : names) {
            assertEquals(n, 0L, GLImage.GetTexture(n));
            GLImage.DrawTexture(n, 0, 0, 100, 100);
            GLImage.DrawTextureWithUpdate(n, 0, 0, 100, 100);
            GLImage.DrawBlendTexture(n, 0, 0, 100, 100);
            GLImage.DrawWebPageTexture(n, 0, 0, 100, 100);
        }
        assertEquals(0L, GLImage.GetTexture(null));
        GLImage.DrawWebPageTexture(null, 0, 0, 1, 1);
        assertPixel(50, 50, 0, 0, 0);
        assertEquals(0, canvas.glError());
    }
}
