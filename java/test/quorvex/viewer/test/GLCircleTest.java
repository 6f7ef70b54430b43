package quorvex.viewer.test;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import org.junit.Test;
import quorvex.viewer.OverlayView.GLCircle;

/** Fixation circles from Java on a JOGL canvas. Tolerance: exact (0) on red, green and blue. */
public class GLCircleTest {
    private GLTestCanvas canvas;

    /** A pixel of the colour within one pixel of (x, y): smooth outlines may land on a neighbour. */
    private boolean ringNear(int x, int y, int r, int g, int b) {
        for (int d = -1; d <= 1; d++)
            for (int e = -1; e <= 1; e++)
                if (canvas.pixelNear(x + d, y + e, r, g, b, 0)) return true;
        return false;
    }

    @Test
    public void nodesAreDrawnAndSelectedIntoJavaArrays() {
        NativeLibrary.load();
        canvas = new GLTestCanvas(200, 200);
        try {
            canvas.clear(0, 0, 0);
            long circles = GLCircle.intGLCirlce(200, 200);
            assertNotEquals(0L, circles);
            assertNull("no selection before createGraphic", GLCircle.selectCircle(circles, 0, 0, 10, 10));
            assertEquals(1L, GLCircle.addCircle(circles, 100f, 100f, 10f, 1f, 0f, 0f));
            assertEquals(1L, GLCircle.addCircle(circles, 100f, 100f, 20f, 0f, 1f, 0f));
            assertEquals(1L, GLCircle.addCircle(circles, 20f, 20f, 5f, 0f, 0f, 1f));
            assertEquals(1L, GLCircle.createGraphic(circles));
            GLCircle.drawCircle(circles);
            assertTrue(canvas.describe(120, 100), ringNear(120, 100, 0, 255, 0));
            canvas.assertPixel(100, 100 - 15, 0, 0, 0, 0);
            assertArrayEquals(new int[] {1, 0}, GLCircle.selectCircle(circles, 98, 98, 4, 4));
            assertArrayEquals(new int[0], GLCircle.selectCircle(circles, 150, 150, 10, 10));

            // Single circles: filled with the colour given (both overloads), or outlined.
            canvas.clear(0, 0, 0);
            assertEquals(1L, GLCircle.fillSingleCircle(circles, 100f, 100f, 10f, 10f, 0f, 1f, 0f));
            canvas.assertPixel(117, 100, 0, 255, 0, 0);
            canvas.assertPixel(123, 100, 0, 0, 0, 0);
            assertEquals(1L, GLCircle.fillSingleCircle(circles, 40f, 40f, 5f, 5f, 0f, 0f, 1f, 1f));
            canvas.assertPixel(40, 40, 0, 0, 255, 0);
            assertEquals(1L, GLCircle.drawSingleCircle(circles, 150f, 150f, 10f, 10f, 1f, 1f, 0f, 1f, 0));
            assertTrue(ringNear(170, 150, 255, 255, 0));
            canvas.assertPixel(150, 150, 0, 0, 0, 0);
            assertEquals(0, canvas.glError());
        } finally {
            canvas.close();
        }
    }
}
