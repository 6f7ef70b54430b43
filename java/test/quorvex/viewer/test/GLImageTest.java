package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;

import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import javax.imageio.ImageIO;
import org.junit.Test;
import quorvex.viewer.OverlayView.GLImage;

/**
 * A stimulus image written by javax.imageio under a name beyond ASCII, drawn
 * through GLImage into a JOGL canvas with the viewer's y-down projection.
 * Tolerance: 1 per channel.
 */
public class GLImageTest {
    @Test
    public void imageNamedByAJavaStringIsDrawnUpright() throws Exception {
        NativeLibrary.load();
        GLTestCanvas canvas = new GLTestCanvas(256, 256);
        Path dir = Files.createTempDirectory("qvimage");
        File f = dir.resolve("Reiz \u00e9t\u00e9 \u0416.png").toFile();
        try {
            BufferedImage img = new BufferedImage(64, 64, BufferedImage.TYPE_INT_RGB);
            for (int y = 0; y < 64; y++) {
                for (int x = 0; x < 64; x++) {
                    img.setRGB(x, y, y >= 32 ? (x >= 32 ? 0xffffff : 0x0000ff) : (x >= 32 ? 0x00ff00 : 0xff0000));
                }
            }
            assertTrue(ImageIO.write(img, "png", f));
            canvas.clear(0, 0, 0);
            assertNotEquals(0L, GLImage.GetTexture(f.getPath()));
            GLImage.DrawTexture(f.getPath(), 20, 30, 128, 128);
            canvas.assertPixel(52, 62, 255, 0, 0, 1);
            canvas.assertPixel(116, 62, 0, 255, 0, 1);
            canvas.assertPixel(52, 126, 0, 0, 255, 1);
            canvas.assertPixel(116, 126, 255, 255, 255, 1);
            canvas.assertPixel(10, 10, 0, 0, 0, 0);
            assertEquals(0, canvas.glError());
        } finally {
            GLImage.ReleaseAllTexture();
            canvas.close();
            f.delete();
            dir.toFile().delete();
        }
    }
}
