package quorvex.viewer.demo;

import com.jogamp.newt.opengl.GLWindow;
import com.jogamp.opengl.GL;
import com.jogamp.opengl.GL2;
import com.jogamp.opengl.GLCapabilities;
import com.jogamp.opengl.GLContext;
import com.jogamp.opengl.GLProfile;

import java.awt.Color;
import java.awt.GradientPaint;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.File;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.util.Random;
import javax.imageio.ImageIO;

import quorvex.viewer.OverlayView.GLCacheDrawing;
import quorvex.viewer.OverlayView.GLCircle;
import quorvex.viewer.OverlayView.GLDirectBuffer;
import quorvex.viewer.OverlayView.GLFont;
import quorvex.viewer.OverlayView.GLImage;
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

    /** Fixations of the demo recording: x, y, duration in ms. */
    static final float[][] FIXATIONS = {
        {120, 75, 180}, {300, 70, 240}, {520, 78, 200}, {690, 72, 160},
        {180, 240, 420}, {300, 300, 520}, {250, 420, 300}, {360, 470, 260},
        {540, 210, 350}, {660, 240, 280}, {690, 400, 380}, {680, 480, 220},
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
            drawStimulus(gl, writeStimulus(new File(out, "stimulus.png")));
            drawHeatmap();
            drawInterestAreas(gl);
            drawFixations(gl);
            drawLabels(gl);
            gl.glFinish();

            File png = new File(out, "recording-view.png");
            long cache = GLCacheDrawing.intGLCache();
            if (cache == 0 || GLCacheDrawing.saveBuffer(cache, png.getPath()) != 1 || !png.isFile()) {
                throw new IllegalStateException("the view was not saved to " + png);
            }
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

    /** A synthetic stimulus: a page with a title, a picture and a caption. */
    static File writeStimulus(File file) throws Exception {
        BufferedImage image = new BufferedImage(WIDTH, HEIGHT, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = image.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g.setPaint(new GradientPaint(0, 0, new Color(236, 232, 222), 0, HEIGHT, new Color(206, 200, 188)));
        g.fillRect(0, 0, WIDTH, HEIGHT);
        g.setColor(new Color(60, 60, 70));
        for (int i = 0; i < 9; i++) {
            g.fillRect(80 + i * 72, 62, 56, 26); // title words
        }
        g.setPaint(new GradientPaint(80, 160, new Color(70, 120, 170), 420, 520, new Color(150, 190, 120)));
        g.fillRect(90, 170, 320, 340); // picture
        g.setColor(new Color(230, 190, 60));
        g.fillOval(250, 230, 110, 110);
        g.setColor(new Color(90, 90, 100));
        for (int line = 0; line < 6; line++) {
            g.fillRect(485, 180 + line * 20, 240, 8); // caption lines
        }
        for (int line = 0; line < 10; line++) {
            g.fillRect(635, 320 + line * 19, 95, 8);
        }
        g.dispose();
        ImageIO.write(image, "png", file);
        return file;
    }

    static void drawStimulus(GL2 gl, File stimulus) {
        gl.glColor4f(1f, 1f, 1f, 1f);
        GLImage.DrawTexture(stimulus.getPath(), 0, 0, WIDTH, HEIGHT);
        if (GLImage.GetTexture(stimulus.getPath()) == 0) {
            throw new IllegalStateException("the stimulus was not loaded");
        }
    }

    /**
     * Gaze cells around the fixations (weight by duration), passed as 40-byte records in a direct
     * buffer. The scene spreads each cell with a Gaussian of 16 cells, so a few cells per fixation suffice.
     */
    static void drawHeatmap() {
        Random random = new Random(7);
        int perFixation = 6;
        ByteBuffer records = ByteBuffer.allocateDirect(FIXATIONS.length * perFixation * 40).order(ByteOrder.nativeOrder());
        int count = 0;
        for (float[] f : FIXATIONS) {
            double spread = 6;
            for (int i = 0; i < perFixation; i++) {
                int x = (int) Math.round(f[0] + random.nextGaussian() * spread);
                int y = (int) Math.round(f[1] + random.nextGaussian() * spread);
                records.putInt(x).putInt(y).putInt(Math.min(255, (int) (f[2] / 10))).putInt(0);
                for (int k = 0; k < 6; k++) records.putInt(0);
                count++;
            }
        }
        long heatmap = GLDirectBuffer.iniHeatmapBuffer_n(WIDTH, HEIGHT);
        if (heatmap == 0) {
            throw new IllegalStateException("the heatmap scene could not be built");
        }
        GLDirectBuffer.updateHeatmapBuffer_n(heatmap, records, WIDTH, HEIGHT, count);
        GLDirectBuffer.drawHeatmapBuffer_n(heatmap);
        GLDirectBuffer.deleteHeatmap_n(heatmap);
    }

    /** The selection window over the picture's sun, in canvas pixels (y down). */
    static final int[] SELECTION = {255, 235, 100, 100};

    /**
     * The recording's fixations, filled, plus the fixations of the rest of the group (a few
     * thousand, clustered on the same targets) drawn as outlines in one batched draw. The circles
     * under the selection window are picked on the GPU and turn black.
     */
    static void drawFixations(GL2 gl) {
        long circles = GLCircle.intGLCirlce(WIDTH, HEIGHT);
        gl.glEnable(GL.GL_BLEND);
        gl.glBlendFunc(GL.GL_SRC_ALPHA, GL.GL_ONE_MINUS_SRC_ALPHA);
        Random random = new Random(11);
        int group = 0;
        for (int k = 0; k < 3000; k++) {
            float[] target = FIXATIONS[random.nextInt(FIXATIONS.length)];
            float x = (float) (target[0] + random.nextGaussian() * 28);
            float y = (float) (target[1] + random.nextGaussian() * 22);
            float radius = 3 + random.nextFloat() * 5;
            GLCircle.addCircle(circles, x, y, radius, 0.95f, 0.55f, 0.1f);
            group++;
        }
        for (float[] f : FIXATIONS) {
            float radius = 6 + f[2] / 25f;
            GLCircle.addCircle(circles, f[0], f[1], radius, 0.85f, 0.15f, 0.35f);
            // fillSingleCircle scales the unit template by sx / 100 (radius 2 x sx).
            GLCircle.fillSingleCircle(circles, f[0], f[1], radius / 2, radius / 2, 0.85f, 0.15f, 0.35f, 0.3f);
        }
        GLCircle.createGraphic(circles);
        // Selection takes window coordinates (y up, lower-left corner).
        int[] selected = GLCircle.selectCircle(circles, SELECTION[0], HEIGHT - SELECTION[1] - SELECTION[3],
                SELECTION[2], SELECTION[3]);
        System.out.println(group + FIXATIONS.length + " fixation circles, " + (selected == null ? 0 : selected.length)
                + " selected under the window");
        canvasProjection(gl);
        GLCircle.drawCircle(circles);
        // The selection window and the recording's scanpath.
        gl.glColor4f(0.1f, 0.1f, 0.1f, 0.9f);
        int[] w = SELECTION;
        float[] wx = {w[0], w[0] + w[2], w[0] + w[2], w[0]};
        float[] wy = {w[1], w[1], w[1] + w[3], w[1] + w[3]};
        gl.glBegin(GL.GL_LINES);
        GLPolygon.drawPolygonGLF(wx, wy, 4);
        gl.glEnd();
        gl.glColor4f(0.85f, 0.15f, 0.35f, 0.8f);
        gl.glBegin(GL.GL_LINE_STRIP);
        for (float[] f : FIXATIONS) gl.glVertex2f(f[0], f[1]);
        gl.glEnd();
        gl.glDisable(GL.GL_BLEND);
    }

    /**
     * Fixation numbers and area names; the font falls back to the Ubuntu Mono beside the library.
     * Glyph boxes grow from the pen towards +y, so labels are drawn in a y-up projection.
     */
    static void drawLabels(GL2 gl) {
        gl.glMatrixMode(GL2.GL_PROJECTION);
        gl.glLoadIdentity();
        gl.glOrtho(0, WIDTH, 0, HEIGHT, -1, 1);
        gl.glMatrixMode(GL2.GL_MODELVIEW);
        long font = GLFont.intGLFont("arial.ttf", 16);
        if (font == 0) {
            throw new IllegalStateException("no font for the labels");
        }
        for (int i = 0; i < FIXATIONS.length; i++) {
            float[] f = FIXATIONS[i];
            float radius = 6 + f[2] / 25f;
            GLFont.drawText(font, f[0] + radius + 2, HEIGHT - f[1], Integer.toString(i + 1), 0.1f, 0.1f, 0.15f);
        }
        String[] names = {"Titel", "Bild", "Légende"};
        for (int i = 0; i < AREAS.length; i++) {
            GLFont.drawText(font, AREAS[i][0][0] + 4, HEIGHT - AREAS[i][1][0] + 4, names[i], 0.2f, 0.45f, 0.8f);
        }
        canvasProjection(gl);
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
}
