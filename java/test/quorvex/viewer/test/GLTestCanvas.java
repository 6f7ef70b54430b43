package quorvex.viewer.test;

import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import com.jogamp.opengl.GLAutoDrawable;
import com.jogamp.opengl.GLCapabilities;
import com.jogamp.opengl.GLContext;
import com.jogamp.opengl.GLDrawableFactory;
import com.jogamp.opengl.GLProfile;

import java.nio.ByteBuffer;
import org.junit.rules.ExternalResource;

/**
 * The one canvas rule: a single-buffered JOGL GL2 context current on the test thread while a test
 * (or class) runs, as the viewer's canvas holds it, with the library loaded. A GL error left behind fails.
 */
public final class GLTestCanvas extends ExternalResource {
    private GLAutoDrawable drawable;
    private GLContext context;
    public final int width, height;

    public GLTestCanvas(int width, int height) {
        this.width = width;
        this.height = height;
    }

    @Override
    protected void before() {
        String library = System.getProperty("quorvex.library");
        if (library == null) throw new IllegalStateException("set -Dquorvex.library to libquorvexviewer.so");
        System.load(library); // a second load of the same path is a no-op
        GLProfile profile = GLProfile.get(GLProfile.GL2);
        GLCapabilities caps = new GLCapabilities(profile);
        caps.setDoubleBuffered(false);
        caps.setOnscreen(false);
        caps.setPBuffer(true);
        caps.setDepthBits(24);
        caps.setStencilBits(8);
        drawable = GLDrawableFactory.getFactory(profile).createOffscreenAutoDrawable(null, caps, null, width, height);
        drawable.display(); // makes the context
        context = drawable.getContext();
        if (context.makeCurrent() == GLContext.CONTEXT_NOT_CURRENT)
            throw new IllegalStateException("cannot make the GL context current");
        GL2 gl = gl(); // the viewer's canvas projection: pixels, y growing downwards
        gl.glViewport(0, 0, width, height);
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, width, height, 0, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        gl.glLoadIdentity();
    }

    public GL2 gl() {
        return context.getGL().getGL2();
    }

    public void clear(float r, float g, float b) {
        gl().glClearColor(r, g, b, 1f);
        gl().glClear(GL.GL_COLOR_BUFFER_BIT | GL.GL_DEPTH_BUFFER_BIT);
    }

    /** RGBA of the pixel at canvas (x, y), 0..255 each. */
    public int[] pixel(int x, int y) {
        ByteBuffer buf = ByteBuffer.allocateDirect(4);
        gl().glReadPixels(x, height - 1 - y, 1, 1, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, buf);
        return new int[] {buf.get(0) & 0xff, buf.get(1) & 0xff, buf.get(2) & 0xff, buf.get(3) & 0xff};
    }

    public boolean pixelNear(int x, int y, int r, int g, int b, int tolerance) {
        int[] p = pixel(x, y);
        return Math.abs(p[0] - r) <= tolerance && Math.abs(p[1] - g) <= tolerance && Math.abs(p[2] - b) <= tolerance;
    }

    public void assertPixel(int x, int y, int r, int g, int b, int tolerance) {
        if (!pixelNear(x, y, r, g, b, tolerance))
            throw new AssertionError("(" + x + ", " + y + ") = rgba" + java.util.Arrays.toString(pixel(x, y))
                + " is not (" + r + ", " + g + ", " + b + ") within " + tolerance);
    }

    @Override
    protected void after() {
        int error = gl().glGetError();
        context.release();
        drawable.destroy();
        if (error != 0) throw new AssertionError("GL error 0x" + Integer.toHexString(error) + " left behind");
    }
}
