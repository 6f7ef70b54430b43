package quorvex.viewer.test;

import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import com.jogamp.opengl.GLAutoDrawable;
import com.jogamp.opengl.GLCapabilities;
import com.jogamp.opengl.GLContext;
import com.jogamp.opengl.GLDrawableFactory;
import com.jogamp.opengl.GLProfile;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import org.junit.rules.ExternalResource;

/**
 * The JUnit classes' one canvas rule: a JOGL GL2 drawable whose context is
 * current on the test thread while a test (or, as a class rule, a class) runs,
 * as the viewer's canvas holds it while it calls the library, with the
 * library loaded. Single-buffered, so read-backs see what was drawn. A GL error
 * left behind fails the test. JOGL makes the context at the first display().
 */
public final class GLTestCanvas extends ExternalResource {
    private GLAutoDrawable drawable;
    private GLContext context;
    public final int width;
    public final int height;

    public GLTestCanvas(int width, int height) {
        this.width = width;
        this.height = height;
    }

    @Override
    protected void before() {
        NativeLibrary.load();
        GLProfile profile = GLProfile.get(GLProfile.GL2);
        GLCapabilities caps = new GLCapabilities(profile);
        caps.setDoubleBuffered(false);
        caps.setOnscreen(false);
        caps.setPBuffer(true);
        caps.setDepthBits(24);
        caps.setStencilBits(8);
        drawable = GLDrawableFactory.getFactory(profile).createOffscreenAutoDrawable(null, caps, null, width, height);
        drawable.display();
        context = drawable.getContext();
        if (context.makeCurrent() == GLContext.CONTEXT_NOT_CURRENT) {
            throw new IllegalStateException("cannot make the GL context current");
        }
        canvasProjection();
    }

    public GL2 gl() {
        return context.getGL().getGL2();
    }

    /** The viewer's canvas projection: pixels, y growing downwards. */
    public void canvasProjection() {
        GL2 gl = gl();
        gl.glViewport(0, 0, width, height);
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, width, height, 0, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        gl.glLoadIdentity();
    }

    public void clear(float r, float g, float b) {
        gl().glClearColor(r, g, b, 1f);
        gl().glClear(GL.GL_COLOR_BUFFER_BIT | GL.GL_DEPTH_BUFFER_BIT);
    }

    /** RGBA of the pixel at canvas (x, y), 0..255 each. */
    public int[] pixel(int x, int y) {
        ByteBuffer buf = ByteBuffer.allocateDirect(4).order(ByteOrder.nativeOrder());
        gl().glPixelStorei(GL.GL_PACK_ALIGNMENT, 1);
        gl().glReadPixels(x, height - 1 - y, 1, 1, GL.GL_RGBA, GL.GL_UNSIGNED_BYTE, buf);
        return new int[] {buf.get(0) & 0xff, buf.get(1) & 0xff, buf.get(2) & 0xff, buf.get(3) & 0xff};
    }

    /** True when every channel of the pixel is within tolerance of (r, g, b). */
    public boolean pixelNear(int x, int y, int r, int g, int b, int tolerance) {
        int[] p = pixel(x, y);
        return Math.abs(p[0] - r) <= tolerance && Math.abs(p[1] - g) <= tolerance && Math.abs(p[2] - b) <= tolerance;
    }

    /** Fails unless every channel of the pixel is within tolerance of (r, g, b). */
    public void assertPixel(int x, int y, int r, int g, int b, int tolerance) {
        if (!pixelNear(x, y, r, g, b, tolerance))
            throw new AssertionError(describe(x, y) + " is not (" + r + ", " + g + ", " + b + ") within " + tolerance);
    }

    public String describe(int x, int y) {
        return "(" + x + ", " + y + ") = rgba" + java.util.Arrays.toString(pixel(x, y));
    }

    public int glError() {
        return gl().glGetError();
    }

    @Override
    protected void after() {
        int error = glError();
        context.release();
        drawable.destroy();
        if (error != 0) throw new AssertionError("GL error 0x" + Integer.toHexString(error) + " left behind");
    }
}
