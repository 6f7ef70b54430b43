package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import com.jogamp.opengl.GL;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Arrays;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLFont;

/**
 * Text labels drawn from Java strings. No msttcorefonts are installed on the
 * test machines, so the font here is the Ubuntu Mono fallback beside the
 * library. Colour tolerance: 3 per channel on fully covered pixels.
 */
public class GLFontTest {
    private static final int SIZE = 200;

    /** {minX, minY, maxX, maxY, pixels near (r, g, b)} of the lit pixels, or null when none. */
    private static int[] litBox(GLTestCanvas canvas, int r, int g, int b) {
        ByteBuffer rgba = ByteBuffer.allocateDirect(SIZE * SIZE * 4).order(ByteOrder.nativeOrder());
        canvas.gl().glPixelStorei(GL.GL_PACK_ALIGNMENT, 1);
        canvas.gl().glReadPixels(0, 0, SIZE, SIZE, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, rgba);
        int[] box = null;
        for (int y = 0; y < SIZE; y++) {
            for (int x = 0; x < SIZE; x++) {
                int i = ((SIZE - 1 - y) * SIZE + x) * 4;
                int[] p = {rgba.get(i) & 0xff, rgba.get(i + 1) & 0xff, rgba.get(i + 2) & 0xff};
                if (p[0] + p[1] + p[2] == 0) continue;
                if (box == null) box = new int[] {x, y, x, y, 0};
                box = new int[] {Math.min(box[0], x), Math.min(box[1], y), Math.max(box[2], x), Math.max(box[3], y),
                    box[4] + (Math.abs(p[0] - r) <= 3 && Math.abs(p[1] - g) <= 3 && Math.abs(p[2] - b) <= 3 ? 1 : 0)};
            }
        }
        return box;
    }

    @Test
    public void javaStringsAreDrawnInTheRequestedColourAndBadInputFails() {
        NativeLibrary.load();
        GLTestCanvas canvas = new GLTestCanvas(SIZE, SIZE);
        try {
            canvas.clear(0, 0, 0);
            long font = GLFont.intGLFont("NoSuchFont-quorvex.ttf", 30);
            assertNotEquals("the bundled Ubuntu Mono should load", 0L, font);
            assertEquals(1, GLFont.drawText(font, 50.9f, 60.9f, "HI", 1f, 0.5f, 0f));
            int[] box = litBox(canvas, 255, 128, 0);
            assertNotNull("something was drawn", box);
            // Pen at (50, 60), truncated; the glyph boxes grow towards +y from the pen.
            String where = Arrays.toString(box);
            assertTrue(where, box[0] >= 50 && box[2] < 50 + 2 * 30 && box[1] >= 60 && box[3] < 60 + 30 && box[4] > 30);

            // Letters beyond ASCII, loaded after the first upload.
            canvas.clear(0, 0, 0);
            assertEquals(1, GLFont.drawText(font, 100, 100, "\u00e9\u00df", 0f, 1f, 0f));
            box = litBox(canvas, 0, 255, 0);
            assertTrue("e-acute and sharp s drawn", box != null && box[0] >= 100 && box[1] >= 100 && box[4] > 20);

            assertEquals(1L, GLFont.setShaders(font, "text.vs", "vert"));
            assertEquals(0L, GLFont.setShaders(font, null, "frag"));
            for (String name : new String[] {null, "", "x".repeat(600)}) assertEquals(0L, GLFont.intGLFont(name, 20));
            assertEquals(0L, GLFont.intGLFont("NoSuchFont-quorvex.ttf", 0));
            assertEquals(0, GLFont.drawText(font, 10, 10, null, 1f, 1f, 1f));
            assertEquals(1, GLFont.drawText(font, 10, 10, "", 1f, 1f, 1f));
            assertEquals(1, GLFont.drawText(font, Float.NaN, Float.POSITIVE_INFINITY, "x", 1f, 1f, 1f));
            assertEquals(1, GLFont.drawText(font, 10, 10, "\ud800 unpaired \udfff", 1f, 1f, 1f));
            assertEquals(0, canvas.glError());
        } finally {
            canvas.close();
        }
    }
}
