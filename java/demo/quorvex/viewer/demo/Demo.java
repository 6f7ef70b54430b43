package quorvex.viewer.demo;

import com.jogamp.newt.opengl.GLWindow;
import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import com.jogamp.opengl.GLCapabilities;
import com.jogamp.opengl.GLContext;
import com.jogamp.opengl.GLProfile;

import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import javax.imageio.ImageIO;

import quorvex.viewer.OverlayView.GLPolygon;
import quorvex.viewer.Utils;

/**
 * A recording's stimulus view, drawn by the native library into a JOGL window
 * the way the viewer's canvas drives it, and saved as a PNG.
 */
public final class Demo {
    static final int WIDTH = 800;
    static final int HEIGHT = 600;

    /** Interest areas of the demo recording: a title band, a picture and an L-shaped caption area. */
    static final float[][][] AREAS = {
        {{60, 740, 740, 60}, {40, 40, 110, 110}},
        {{80, 420, 420, 80}, {160, 160, 520, 520}},
        {{470, 740, 740, 620, 620, 470}, {160, 160, 520, 520, 300, 300}},
    };

    public static void main(String[] args) throws Exception {
        System.load(System.getProperty("quorvex.library"));
        File out = new File(args.length > 0 ? args[0] : ".");
        out.mkdirs();
        System.out.println("library: " + Utils.getExeDir());

        GLCapabilities caps = new GLCapabilities(GLProfile.get(GLProfile.GL2));
        caps.setDoubleBuffered(false);
        GLWindow window = GLWindow.create(caps);
        window.setTitle("Quorvex viewer demo");
        window.setSize(WIDTH, HEIGHT);
        window.setVisible(true);
        window.display();
        GLContext context = window.getContext();
        if (context.makeCurrent() == GLContext.CONTEXT_NOT_CURRENT) {
            throw new IllegalStateException("cannot make the window's GL context current");
        }
        try {
            GL2 gl = context.getGL().getGL2();
            System.out.println("GL: " + gl.glGetString(GL.GL_RENDERER) + " / " + gl.glGetString(GL.GL_VERSION));
            canvasProjection(gl);
            gl.glClearColor(0.12f, 0.12f, 0.14f, 1f);
            gl.glClear(GL.GL_COLOR_BUFFER_BIT | GL.GL_DEPTH_BUFFER_BIT);
            drawInterestAreas(gl);
            gl.glFinish();
            File png = new File(out, "recording-view.png");
            ImageIO.write(readBack(gl), "png", png);
            System.out.println("saved " + png.getPath());
        } finally {
            context.release();
            window.destroy();
        }
    }

    static void canvasProjection(GL2 gl) {
        gl.glViewport(0, 0, WIDTH, HEIGHT);
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, WIDTH, HEIGHT, 0, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        gl.glLoadIdentity();
    }

    static void drawInterestAreas(GL2 gl) {
        gl.glEnable(GL.GL_BLEND);
        gl.glBlendFunc(GL.GL_SRC_ALPHA, GL.GL_ONE_MINUS_SRC_ALPHA);
        for (float[][] area : AREAS) {
            gl.glColor4f(0.2f, 0.6f, 1f, 0.25f);
            GLPolygon.fillPolygonGLF(area[0], area[1], area[0].length);
            gl.glColor4f(0.3f, 0.7f, 1f, 1f);
            gl.glLineWidth(2f);
            gl.glBegin(GL.GL_LINES);
            GLPolygon.drawPolygonGLF(area[0], area[1], area[0].length);
            gl.glEnd();
        }
        gl.glDisable(GL.GL_BLEND);
    }

    static BufferedImage readBack(GL2 gl) {
        ByteBuffer pixels = ByteBuffer.allocateDirect(WIDTH * HEIGHT * 4).order(ByteOrder.nativeOrder());
        gl.glPixelStorei(GL.GL_PACK_ALIGNMENT, 1);
        gl.glReadPixels(0, 0, WIDTH, HEIGHT, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, pixels);
        BufferedImage image = new BufferedImage(WIDTH, HEIGHT, BufferedImage.TYPE_INT_RGB);
        for (int y = 0; y < HEIGHT; y++) {
            for (int x = 0; x < WIDTH; x++) {
                int i = ((HEIGHT - 1 - y) * WIDTH + x) * 4;
                int rgb = (pixels.get(i) & 0xff) << 16 | (pixels.get(i + 1) & 0xff) << 8 | (pixels.get(i + 2) & 0xff);
                image.setRGB(x, y, rgb);
            }
        }
        return image;
    }
}
