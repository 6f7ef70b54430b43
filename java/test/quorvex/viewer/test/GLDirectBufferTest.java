package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLDirectBuffer;

/**
 * Heatmaps from gaze records in direct buffers, drawn into a JOGL canvas of
 * 512 x 512 whose pixels map one to one onto the heatmap's cells.
 * Tolerance: 4 levels of 255 per channel against the blended colour the value
 * chain gives for an isolated cell (count 100: yellow at opacity 0.56 over blue).
 */
public class GLDirectBufferTest {
    private static final int S = 512;

    /** Records of 40 bytes: x, y, count, then seven ints the library does not read. */
    private static ByteBuffer records(int[][] xyc) {
        ByteBuffer b = ByteBuffer.allocateDirect(40 * xyc.length).order(ByteOrder.nativeOrder());
        for (int[] r : xyc) {
            b.putInt(r[0]).putInt(r[1]).putInt(r[2]);
            for (int i = 0; i < 7; i++) b.putInt(-1);
        }
        return b;
    }

    @Test
    public void recordsOfADirectBufferAreDrawnWhereTheyLie() {
        NativeLibrary.load();
        GLTestCanvas canvas = new GLTestCanvas(S, S);
        long scene = GLDirectBuffer.iniHeatmapBuffer_n(S, S);
        try {
            assertNotEquals(0L, scene);
            canvas.clear(0f, 0f, 1f);
            // A size past the buffer's end reads only the records it holds; counts keep their low byte.
            ByteBuffer b = records(new int[][] {{100, 100, 100}, {400, 300, 100 + 256}});
            assertEquals(1, GLDirectBuffer.updateHeatmapBuffer_n(scene, b, S, S, Integer.MAX_VALUE));
            GLDirectBuffer.drawHeatmapBuffer_n(scene);
            canvas.assertPixel(100, 100, 143, 143, 112, 4);
            canvas.assertPixel(400, 300, 143, 143, 112, 4);
            canvas.assertPixel(250, 480, 0, 0, 255, 0);
            // A heap buffer has no address to read.
            ByteBuffer heap = ByteBuffer.allocate(400).order(ByteOrder.nativeOrder());
            assertEquals(0, GLDirectBuffer.updateHeatmapBuffer_n(scene, heap, S, S, 10));
            assertEquals(0, canvas.glError());
        } finally {
            GLDirectBuffer.deleteHeatmap_n(scene);
            canvas.close();
        }
    }
}
