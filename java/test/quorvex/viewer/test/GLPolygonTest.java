package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;

import org.junit.Test;
import quorvex.viewer.OverlayView.GLPolygon;

/** Interest areas drawn from Java arrays into a JOGL canvas. Tolerance: exact (0). */
public class GLPolygonTest {
    @Test
    public void fillsFromJavaArraysAndReadsOnlyWhatTheyHold() {
        NativeLibrary.load();
        GLTestCanvas canvas = new GLTestCanvas(200, 200);
        try {
            canvas.clear(0, 0, 0);
            canvas.gl().glColor3f(1f, 1f, 0f);
            float[] xs = {20, 180, 180, 120, 120, 80, 80, 20};
            float[] ys = {20, 20, 180, 180, 80, 80, 180, 180};
            assertEquals(1, GLPolygon.fillPolygonGLF(xs, ys, xs.length));
            canvas.assertPixel(40, 150, 255, 255, 0, 0);
            canvas.assertPixel(100, 40, 255, 255, 0, 0);
            canvas.assertPixel(100, 150, 0, 0, 0, 0); // the notch

            // A count larger than both arrays: only the three vertices both hold are used.
            canvas.clear(0, 0, 0);
            assertEquals(1, GLPolygon.fillPolygonGLI(new int[] {20, 180, 180, 20}, new int[] {20, 20, 180}, 1000));
            canvas.assertPixel(170, 30, 255, 255, 0, 0);
            canvas.assertPixel(30, 170, 0, 0, 0, 0);
            assertEquals(0, GLPolygon.drawPolygonGLF(new float[0], new float[0], 3));
            assertEquals(0, canvas.glError());
        } finally {
            canvas.close();
        }
    }
}
