package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import com.jogamp.opengl.GL2;
import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLPolygon;

/** Interest areas drawn from Java arrays into a JOGL canvas. Tolerance: exact (0). */
public class GLPolygonTest {
    private GLTestCanvas canvas;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() {
        canvas = new GLTestCanvas(200, 200);
        canvas.clear(0, 0, 0);
        canvas.gl().glColor3f(1f, 1f, 0f);
    }

    @After
    public void close() {
        canvas.close();
    }

    private void assertYellow(int x, int y) {
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, 255, 255, 0, 0));
    }

    private void assertBlack(int x, int y) {
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, 0, 0, 0, 0));
    }

    @Test
    public void fillsAConcavePolygonFromFloats() {
        float[] xs = {20, 180, 180, 120, 120, 80, 80, 20};
        float[] ys = {20, 20, 180, 180, 80, 80, 180, 180};
        assertEquals(1, GLPolygon.fillPolygonGLF(xs, ys, xs.length));
        assertYellow(40, 150);
        assertYellow(150, 150);
        assertYellow(100, 40);
        assertBlack(100, 150); // the notch
        assertBlack(10, 10);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void fillsFromIntegersLikeFloats() {
        int[] xs = {30, 170, 100};
        int[] ys = {170, 170, 30};
        assertEquals(1, GLPolygon.fillPolygonGLI(xs, ys, 3));
        assertYellow(100, 120);
        assertBlack(40, 40);
    }

    @Test
    public void outlinesInsideTheCallersLines() {
        GL2 gl = canvas.gl();
        gl.glTranslatef(0.5f, 0.5f, 0f);
        int[] xs = {20, 180, 180, 20};
        int[] ys = {20, 20, 180, 180};
        gl.glBegin(GL2.GL_LINES);
        assertEquals(1, GLPolygon.drawPolygonGLI(xs, ys, 4));
        gl.glEnd();
        assertYellow(100, 20);
        assertYellow(180, 100);
        assertYellow(100, 180);
        assertYellow(20, 100);
        assertBlack(100, 100);

        canvas.clear(0, 0, 0);
        float[] fx = {40.5f, 160.5f, 100.5f};
        float[] fy = {150.5f, 150.5f, 40.5f};
        gl.glLoadIdentity();
        gl.glBegin(GL2.GL_LINES);
        assertEquals(1, GLPolygon.drawPolygonGLF(fx, fy, 3));
        gl.glEnd();
        assertYellow(100, 150);
        assertBlack(100, 100);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void badCountsDrawOnlyWhatTheArraysHold() {
        float[] xs = {20, 180, 180, 20};
        float[] ys = {20, 20, 180};
        // nums larger than both arrays: only the three vertices both hold are used.
        assertEquals(1, GLPolygon.fillPolygonGLF(xs, ys, 1000));
        assertYellow(170, 30);
        assertBlack(30, 170);
        canvas.clear(0, 0, 0);
        assertEquals(0, GLPolygon.fillPolygonGLF(xs, ys, -3));
        assertEquals(0, GLPolygon.fillPolygonGLF(null, ys, 3));
        assertEquals(0, GLPolygon.drawPolygonGLI(new int[0], new int[0], 0));
        assertEquals(0, GLPolygon.fillPolygonGLI(null, null, Integer.MAX_VALUE));
        assertBlack(100, 100);
        assertEquals(0, canvas.glError());
    }

    @Test
    public void drawQuadTextureChangesNothing() {
        assertEquals(1, GLPolygon.drawQuadTexture(100, 100));
        assertBlack(100, 100);
        assertEquals(0, canvas.glError());
    }
}
