package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import com.jogamp.opengl.GL;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLFont;

/**
 * Text labels drawn from Java. No msttcorefonts are installed on the test
 * machines, so every font here is the Ubuntu Mono fallback beside the library.
 * Colour tolerance: 3 per channel on fully covered pixels.
 */
public class GLFontTest {
    private static final int SIZE = 200;
    private GLTestCanvas canvas;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() {
        canvas = new GLTestCanvas(SIZE, SIZE);
        canvas.clear(0, 0, 0);
    }

    @After
    public void close() {
        canvas.close();
    }

    /** Pixels of one read-back, indexed by canvas (x, y). */
    private final class Frame {
        final ByteBuffer rgba = ByteBuffer.allocateDirect(SIZE * SIZE * 4).order(ByteOrder.nativeOrder());

        Frame() {
            canvas.gl().glPixelStorei(GL.GL_PACK_ALIGNMENT, 1);
            canvas.gl().glReadPixels(0, 0, SIZE, SIZE, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, rgba);
        }

        int channel(int x, int y, int c) {
            return rgba.get(((SIZE - 1 - y) * SIZE + x) * 4 + c) & 0xff;
        }

        boolean lit(int x, int y) {
            return channel(x, y, 0) > 0 || channel(x, y, 1) > 0 || channel(x, y, 2) > 0;
        }

        int countNear(int r, int g, int b, int tolerance) {
            int n = 0;
            for (int y = 0; y < SIZE; y++) {
                for (int x = 0; x < SIZE; x++) {
                    if (Math.abs(channel(x, y, 0) - r) <= tolerance && Math.abs(channel(x, y, 1) - g) <= tolerance
                            && Math.abs(channel(x, y, 2) - b) <= tolerance) {
                        n++;
                    }
                }
            }
            return n;
        }

        /** {minX, minY, maxX, maxY} of the lit pixels, or null when none. */
        int[] litBox() {
            int[] box = null;
            for (int y = 0; y < SIZE; y++) {
                for (int x = 0; x < SIZE; x++) {
                    if (!lit(x, y)) continue;
                    if (box == null) box = new int[] {x, y, x, y};
                    box[0] = Math.min(box[0], x);
                    box[1] = Math.min(box[1], y);
                    box[2] = Math.max(box[2], x);
                    box[3] = Math.max(box[3], y);
                }
            }
            return box;
        }
    }

    private static long fallbackFont(int size) {
        long font = GLFont.intGLFont("NoSuchFont-quorvex.ttf", size);
        assertNotEquals("the bundled Ubuntu Mono should load", 0L, font);
        return font;
    }

    @Test
    public void missingFontFallsBackAndDrawsInTheRequestedColour() {
        long font = fallbackFont(30);
        assertEquals(1, GLFont.drawText(font, 50.9f, 60.9f, "HI", 1f, 0.5f, 0f));
        Frame frame = new Frame();
        assertTrue("fully covered pixels in orange", frame.countNear(255, 128, 0, 3) > 30);
        int[] box = frame.litBox();
        assertTrue("something was drawn", box != null);
        // Pen at (50, 60), truncated; the glyph boxes grow towards +y from the pen.
        assertTrue("box " + java.util.Arrays.toString(box), box[0] >= 50 && box[2] < 50 + 2 * 30);
        assertTrue("box " + java.util.Arrays.toString(box), box[1] >= 60 && box[3] < 60 + 30);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void latinOneLettersAreDrawnFromJavaStrings() {
        long font = fallbackFont(40);
        assertEquals(1, GLFont.drawText(font, 20, 20, "A", 1f, 1f, 1f)); // first upload: ASCII only
        canvas.clear(0, 0, 0);
        assertEquals(1, GLFont.drawText(font, 100, 100, "\u00e9\u00df", 0f, 1f, 0f));
        Frame frame = new Frame();
        int[] box = frame.litBox();
        assertTrue("e-acute and sharp s drawn", box != null && frame.countNear(0, 255, 0, 3) > 20);
        assertTrue("box " + java.util.Arrays.toString(box), box[0] >= 100 && box[1] >= 100);
    }

    @Test
    public void sizeChangesAreClampedAndRedrawLarger() {
        long font = fallbackFont(20);
        GLFont.drawText(font, 10, 10, "H", 1f, 1f, 1f);
        int small = heightOf(new Frame().litBox());

        canvas.clear(0, 0, 0);
        GLFont.setFontSizes(font, 400); // clamps to 50
        GLFont.drawText(font, 10, 10, "H", 1f, 1f, 1f);
        int large = heightOf(new Frame().litBox());
        assertTrue("50 px is taller than 20 px: " + small + " vs " + large, large > 2 * small);

        canvas.clear(0, 0, 0);
        GLFont.setFontSizes(font, 1); // clamps to 8
        GLFont.drawText(font, 10, 10, "H", 1f, 1f, 1f);
        int tiny = heightOf(new Frame().litBox());
        assertTrue("8 px is shorter than 20 px: " + tiny + " vs " + small, tiny < small);
        assertEquals(0, canvas.glError());
    }

    private static int heightOf(int[] box) {
        assertTrue("nothing drawn", box != null);
        return box[3] - box[1] + 1;
    }

    @Test
    public void shadersLoadFontAndUpdateTextChangeNothingOnScreen() {
        long font = fallbackFont(20);
        assertEquals(1L, GLFont.setShaders(font, "text.vs", "vert"));
        assertEquals(1L, GLFont.setShaders(font, "text.gs", "geom"));
        assertEquals(0L, GLFont.setShaders(font, null, "frag"));
        assertEquals(0L, GLFont.setShaders(0L, "text.fs", "frag"));
        GLFont.loadFont(font);
        GLFont.updateText(font, 3, 10f, 10f, "label", 1f, 1f, 1f);
        assertTrue(new Frame().litBox() == null);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void badInputFailsWithoutCrashing() {
        assertEquals(0L, GLFont.intGLFont(null, 20));
        assertEquals(0L, GLFont.intGLFont("", 20));
        assertEquals(0L, GLFont.intGLFont("x".repeat(600), 20));
        assertEquals(0L, GLFont.intGLFont("NoSuchFont-quorvex.ttf", 0));
        assertEquals(0L, GLFont.intGLFont("NoSuchFont-quorvex.ttf", -5));

        long font = fallbackFont(20);
        assertEquals(0, GLFont.drawText(0L, 10, 10, "x", 1f, 1f, 1f));
        assertEquals(0, GLFont.drawText(font, 10, 10, null, 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, 10, 10, "", 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, Float.NaN, Float.POSITIVE_INFINITY, "x", 1f, 1f, 1f));
        assertEquals(1, GLFont.drawText(font, 10, 10, "\ud800 unpaired \udfff", 1f, 1f, 1f));
        GLFont.setFontSizes(0L, 30);
        GLFont.loadFont(0L);
        GLFont.updateText(0L, 0, 0f, 0f, null, 0f, 0f, 0f);
        assertEquals(0, canvas.glError());
    }
}
