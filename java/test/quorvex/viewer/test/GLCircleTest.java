package quorvex.viewer.test;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;

import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLCircle;

/** Fixation circles from Java on a JOGL canvas. Tolerance: exact (0) on red, green and blue. */
public class GLCircleTest {
    private GLTestCanvas canvas;
    private long circles;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() {
        canvas = new GLTestCanvas(200, 200);
        canvas.clear(0, 0, 0);
        circles = GLCircle.intGLCirlce(200, 200);
        assertNotEquals(0L, circles);
    }

    @After
    public void close() {
        canvas.close();
    }

    private void assertColour(int x, int y, int r, int g, int b) {
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, r, g, b, 0));
    }

    private boolean ringNear(int x, int y, int r, int g, int b) {
        for (int d = -1; d <= 1; d++)
            for (int e = -1; e <= 1; e++)
                if (canvas.pixelNear(x + d, y + e, r, g, b, 0)) return true;
        return false;
    }

    @Test
    public void drawsNodesAsOutlinesOfTheirSize() {
        assertEquals(1L, GLCircle.addCircle(circles, 100f, 50f, 20f, 1f, 0f, 0f));
        assertEquals(1L, GLCircle.createGraphic(circles));
        GLCircle.drawCircle(circles);
        assertTrue(canvas.describe(120, 50), ringNear(120, 50, 255, 0, 0));
        assertTrue(canvas.describe(80, 50), ringNear(80, 50, 255, 0, 0));
        assertTrue(canvas.describe(100, 70), ringNear(100, 70, 255, 0, 0));
        assertColour(100, 50, 0, 0, 0);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void singleCirclesFillAndOutline() {
        assertEquals(1L, GLCircle.fillSingleCircle(circles, 100f, 100f, 10f, 10f, 0f, 1f, 0f));
        assertColour(100, 100, 0, 255, 0);
        assertColour(117, 100, 0, 255, 0);
        assertColour(123, 100, 0, 0, 0);
        assertEquals(1L, GLCircle.fillSingleCircle(circles, 40f, 40f, 5f, 5f, 0f, 0f, 1f, 1f));
        assertColour(40, 40, 0, 0, 255);
        assertColour(40, 52, 0, 0, 0);
        canvas.clear(0, 0, 0);
        assertEquals(1L, GLCircle.drawSingleCircle(circles, 100f, 100f, 10f, 10f, 1f, 1f, 0f, 1f, 0));
        assertTrue(ringNear(120, 100, 255, 255, 0));
        assertColour(100, 100, 0, 0, 0);
        assertEquals(1L, GLCircle.drawSingleCircle(circles, 100f, 100f, 30f, 30f, 1f, 1f, 0f, 1f, 3));
        assertColour(160, 100, 0, 0, 0);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void updatesAndClearing() {
        GLCircle.addCircle(circles, 150f, 150f, 10f, 0f, 1f, 1f);
        // updateCircle moves slot 0 and keeps its colour.
        GLCircle.updateCircle(circles, 0, 150f, 40f, 10f, 0f, 0f, 0f);
        GLCircle.createGraphic(circles);
        GLCircle.drawCircle(circles);
        assertTrue(canvas.describe(160, 40), ringNear(160, 40, 0, 255, 255));
        assertTrue(canvas.describe(160, 150), !ringNear(160, 150, 0, 255, 255));
        canvas.clear(0, 0, 0);
        assertEquals(1L, GLCircle.clearCircles(circles));
        GLCircle.drawCircle(circles);
        assertTrue(!ringNear(160, 40, 0, 255, 255));
        assertEquals(1L, GLCircle.setShaders(circles, "/tmp/circle.vert", "vert1"));
        assertEquals(0L, GLCircle.setShaders(circles, "", "vert1"));
        assertEquals(1, GLCircle.updateWindowSize(circles, 200, 200));
        assertEquals(0, canvas.glError());
    }

    @Test
    public void selectionReturnsTheSlotsUnderTheWindow() {
        assertNull("no selection before createGraphic", GLCircle.selectCircle(circles, 0, 0, 10, 10));
        GLCircle.addCircle(circles, 100f, 100f, 10f, 1f, 0f, 0f);
        GLCircle.addCircle(circles, 100f, 100f, 20f, 0f, 1f, 0f);
        GLCircle.addCircle(circles, 20f, 20f, 5f, 0f, 0f, 1f);
        GLCircle.createGraphic(circles);
        assertArrayEquals(new int[] {1, 0}, GLCircle.selectCircle(circles, 98, 98, 4, 4));
        assertArrayEquals(new int[0], GLCircle.selectCircle(circles, 150, 150, 10, 10));
        // The canvas draws on unharmed: the found nodes are black now, the third keeps its colour.
        canvas.clear(0, 0, 0);
        GLCircle.drawCircle(circles);
        assertTrue(!ringNear(120, 100, 0, 255, 0));
        assertTrue(canvas.describe(25, 20), ringNear(25, 20, 0, 0, 255));
        assertEquals(0, canvas.glError());
    }

    @Test
    public void zeroHandleDoesNothing() {
        assertEquals(0L, GLCircle.clearCircles(0));
        assertEquals(0L, GLCircle.setShaders(0, "a", "vert1"));
        assertEquals(0L, GLCircle.createGraphic(0));
        assertEquals(0L, GLCircle.fillSingleCircle(0, 100f, 100f, 10f, 10f, 1f, 1f, 1f));
        assertEquals(0L, GLCircle.fillSingleCircle(0, 100f, 100f, 10f, 10f, 1f, 1f, 1f, 1f));
        assertEquals(0L, GLCircle.drawSingleCircle(0, 100f, 100f, 10f, 10f, 1f, 1f, 1f, 1f, 1));
        assertEquals(0L, GLCircle.addCircle(0, 1f, 1f, 1f, 1f, 1f, 1f));
        GLCircle.updateCircle(0, 0, 1f, 1f, 1f, 1f, 1f, 1f);
        GLCircle.drawCircle(0);
        assertNull(GLCircle.selectCircle(0, 0, 0, 10, 10));
        assertEquals(0, GLCircle.updateWindowSize(0, 10, 10));
        assertEquals(0L, GLCircle.intGLCirlce(0, 0));
        assertColour(100, 100, 0, 0, 0);
        assertEquals(0, canvas.glError());
    }
}
