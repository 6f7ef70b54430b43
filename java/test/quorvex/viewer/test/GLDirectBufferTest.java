package quorvex.viewer.test;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLDirectBuffer;

/**
 * Heatmaps from gaze records in direct buffers, drawn into a JOGL canvas of
 * 512 x 512 whose pixels map one to one onto the heatmap's cells.
 * Tolerance: 4 levels of 255 per channel against the blended colour the value
 * chain gives for an isolated cell (count 100: yellow at opacity 0.56).
 */
public class GLDirectBufferTest {
    private static final int S = 512;
    private static final int TOL = 4;
    private GLTestCanvas canvas;
    private long scene;

    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Before
    public void open() {
        canvas = new GLTestCanvas(S, S);
        canvas.clear(0f, 0f, 1f);
        scene = GLDirectBuffer.iniHeatmapBuffer_n(S, S);
        assertNotEquals(0L, scene);
    }

    @After
    public void close() {
        GLDirectBuffer.deleteHeatmap_n(scene);
        assertEquals(0, canvas.glError());
        canvas.close();
    }

    /** Records of 40 bytes: x, y, count, then seven ints the library does not read. */
    private static ByteBuffer records(int[][] xyc) {
        ByteBuffer b = ByteBuffer.allocateDirect(40 * xyc.length).order(ByteOrder.nativeOrder());
        for (int[] r : xyc) {
            b.putInt(r[0]).putInt(r[1]).putInt(r[2]);
            for (int i = 0; i < 7; i++) b.putInt(-1);
        }
        return b;
    }

    private void assertHeat(int x, int y) {
        // Yellow (255, 255, 0) at alpha ~143/255 over blue.
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, 143, 143, 112, TOL));
    }

    private void assertBackground(int x, int y) {
        assertTrue(canvas.describe(x, y), canvas.pixelNear(x, y, 0, 0, 255, 0));
    }

    @Test
    public void recordsAreDrawnWhereTheyLie() {
        ByteBuffer b = records(new int[][] {{100, 100, 100}, {400, 300, 100 + 256}});
        assertEquals(1, GLDirectBuffer.updateHeatmapBuffer_n(scene, b, S, S, 2));
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        assertHeat(100, 100);
        assertHeat(400, 300);
        assertBackground(250, 480);
        assertBackground(480, 20);
    }

    @Test
    public void singleValuesAreDrawnToo() {
        GLDirectBuffer.updateHeatmapValue_n(scene, 100, 200, 50, S, S);
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        assertHeat(200, 50);
        // The next draw without an update shows nothing.
        canvas.clear(0f, 0f, 1f);
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        assertBackground(200, 50);
    }

    @Test
    public void heapBufferAndZeroHandleReturnZero() {
        ByteBuffer heap = ByteBuffer.allocate(400).order(ByteOrder.nativeOrder());
        assertEquals(0, GLDirectBuffer.updateHeatmapBuffer_n(scene, heap, S, S, 10));
        assertEquals(0, GLDirectBuffer.updateHeatmapBuffer_n(0L, records(new int[][] {{1, 1, 9}}), S, S, 1));
        assertEquals(0, GLDirectBuffer.updateHeatmapBuffer_n(scene, null, S, S, 1));
        GLDirectBuffer.drawHeatmapBuffer_n(0L);
        GLDirectBuffer.updateHeatmapValue_n(0L, 1, 1, 1, 1, 1);
        GLDirectBuffer.deleteHeatmap_n(0L);
    }

    @Test
    public void oversizedAndNegativeSizesStayInsideTheBuffer() {
        ByteBuffer b = records(new int[][] {{256, 256, 100}, {60, 400, 100}});
        assertEquals(1, GLDirectBuffer.updateHeatmapBuffer_n(scene, b, S, S, Integer.MAX_VALUE));
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        assertHeat(256, 256);
        assertHeat(60, 400);

        canvas.clear(0f, 0f, 1f);
        assertEquals(1, GLDirectBuffer.updateHeatmapBuffer_n(scene, b, S, S, -5));
        GLDirectBuffer.drawHeatmapBuffer_n(scene);
        assertBackground(256, 256);
    }

    @Test
    public void callersStateIsIntactAfterTheDraw() {
        GL2 gl = canvas.gl();
        gl.glViewport(0, 0, S, S);
        gl.glClearColor(0.25f, 0.5f, 0.75f, 1f);
        gl.glEnable(GL.GL_DEPTH_TEST);
        gl.glDepthFunc(GL.GL_LEQUAL);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        gl.glTranslatef(0.5f, 0.25f, 0f);
        gl.glActiveTexture(GL.GL_TEXTURE2);
        float[] projection = new float[16], modelview = new float[16];
        gl.glGetFloatv(GL2.GL_PROJECTION_MATRIX, projection, 0);
        gl.glGetFloatv(GL2.GL_MODELVIEW_MATRIX, modelview, 0);

        GLDirectBuffer.updateHeatmapValue_n(scene, 100, 256, 256, S, S);
        GLDirectBuffer.drawHeatmapBuffer_n(scene);

        int[] ints = new int[4];
        gl.glGetIntegerv(GL.GL_VIEWPORT, ints, 0);
        assertArrayEquals(new int[] {0, 0, S, S}, ints);
        float[] clear = new float[4];
        gl.glGetFloatv(GL.GL_COLOR_CLEAR_VALUE, clear, 0);
        assertArrayEquals(new float[] {0.25f, 0.5f, 0.75f, 1f}, clear, 0f);
        assertTrue(gl.glIsEnabled(GL.GL_DEPTH_TEST));
        gl.glGetIntegerv(GL.GL_DEPTH_FUNC, ints, 0);
        assertEquals(GL.GL_LEQUAL, ints[0]);
        gl.glGetIntegerv(GL.GL_ACTIVE_TEXTURE, ints, 0);
        assertEquals(GL.GL_TEXTURE2, ints[0]);
        gl.glGetIntegerv(GL.GL_FRAMEBUFFER_BINDING, ints, 0);
        assertEquals(gl.getDefaultDrawFramebuffer(), ints[0]);
        gl.glGetIntegerv(GL2.GL_MATRIX_MODE, ints, 0);
        assertEquals(GL2.GL_MODELVIEW, ints[0]);
        float[] after = new float[16];
        gl.glGetFloatv(GL2.GL_PROJECTION_MATRIX, after, 0);
        assertArrayEquals(projection, after, 0f);
        gl.glGetFloatv(GL2.GL_MODELVIEW_MATRIX, after, 0);
        assertArrayEquals(modelview, after, 0f);
        gl.glActiveTexture(GL.GL_TEXTURE0);
        gl.glDisable(GL.GL_DEPTH_TEST);
    }
}
