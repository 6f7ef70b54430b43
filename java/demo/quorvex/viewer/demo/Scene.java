package quorvex.viewer.demo;

import java.awt.Color;
import java.awt.Font;
import java.awt.GradientPaint;
import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.awt.image.DataBufferByte;
import java.io.File;
import java.io.IOException;
import java.io.OutputStream;
import javax.imageio.ImageIO;

/**
 * The demo recording's stimulus, a page with a title, a picture and a caption: as a still image,
 * and as a scene video in which the picture's sun circles and a progress bar fills, each frame
 * carrying its own number.
 */
final class Scene {
    private Scene() {}

    /** The sun circles the picture's middle once per clip, starting where the still shows it. */
    static final double ORBIT_X = 250, ORBIT_Y = 340, ORBIT_RADIUS = 78, SUN_RADIUS = 55;

    static double[] sunAt(int frame, int frames) {
        double angle = -Math.PI / 4 + 2 * Math.PI * frame / frames;
        return new double[] {ORBIT_X + ORBIT_RADIUS * Math.cos(angle), ORBIT_Y + ORBIT_RADIUS * Math.sin(angle)};
    }

    static File writeStill(File file, int width, int height) throws IOException {
        BufferedImage image = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
        Graphics2D g = image.createGraphics();
        double[] sun = sunAt(0, 1);
        paintPage(g, width, height, sun[0], sun[1]);
        g.dispose();
        ImageIO.write(image, "png", file);
        return file;
    }

    /**
     * Encodes {@code frames} frames at {@code rate} frames/s as H.264 in MP4 with the ffmpeg
     * program, fed raw BGR frames on its standard input.
     */
    static File writeVideo(File file, int width, int height, int frames, int rate) throws Exception {
        Process ffmpeg = new ProcessBuilder("ffmpeg", "-v", "error", "-y",
                "-f", "rawvideo", "-pix_fmt", "bgr24", "-s", width + "x" + height, "-r", Integer.toString(rate),
                "-i", "-", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "50",
                "-f", "mp4", file.getPath())
                .redirectOutput(ProcessBuilder.Redirect.DISCARD).redirectError(ProcessBuilder.Redirect.INHERIT)
                .start();
        BufferedImage image = new BufferedImage(width, height, BufferedImage.TYPE_3BYTE_BGR);
        byte[] bgr = ((DataBufferByte) image.getRaster().getDataBuffer()).getData();
        try (OutputStream pipe = ffmpeg.getOutputStream()) {
            for (int f = 0; f < frames; f++) {
                Graphics2D g = image.createGraphics();
                paintFrame(g, width, height, f, frames);
                g.dispose();
                pipe.write(bgr);
            }
        }
        int status = ffmpeg.waitFor();
        if (status != 0 || !file.isFile()) {
            throw new IllegalStateException("ffmpeg could not write the scene video " + file + " (exit " + status + ")");
        }
        return file;
    }

    private static void paintFrame(Graphics2D g, int width, int height, int frame, int frames) {
        double[] sun = sunAt(frame, frames);
        paintPage(g, width, height, sun[0], sun[1]);
        g.setColor(new Color(120, 116, 106));
        g.fillRect(60, 556, 680, 10);
        g.setColor(new Color(200, 70, 60));
        g.fillRect(60, 556, 680 * (frame + 1) / frames, 10); // progress bar
        g.setColor(new Color(60, 60, 70));
        g.setFont(new Font(Font.SANS_SERIF, Font.BOLD, 15));
        g.drawString(String.format("scene frame %03d", frame), 610, 590);
    }

    private static void paintPage(Graphics2D g, int width, int height, double sunX, double sunY) {
        g.setRenderingHint(RenderingHints.KEY_ANTIALIASING, RenderingHints.VALUE_ANTIALIAS_ON);
        g.setRenderingHint(RenderingHints.KEY_TEXT_ANTIALIASING, RenderingHints.VALUE_TEXT_ANTIALIAS_ON);
        g.setPaint(new GradientPaint(0, 0, new Color(236, 232, 222), 0, height, new Color(206, 200, 188)));
        g.fillRect(0, 0, width, height);
        g.setColor(new Color(60, 60, 70));
        for (int i = 0; i < 9; i++) {
            g.fillRect(80 + i * 72, 62, 56, 26); // title words
        }
        g.setPaint(new GradientPaint(80, 160, new Color(70, 120, 170), 420, 520, new Color(150, 190, 120)));
        g.fillRect(90, 170, 320, 340); // picture
        g.setClip(90, 170, 320, 340);
        g.setColor(new Color(230, 190, 60));
        g.fillOval((int) Math.round(sunX - SUN_RADIUS), (int) Math.round(sunY - SUN_RADIUS),
                (int) (2 * SUN_RADIUS), (int) (2 * SUN_RADIUS));
        g.setClip(null);
        g.setColor(new Color(90, 90, 100));
        for (int line = 0; line < 6; line++) {
            g.fillRect(485, 180 + line * 20, 240, 8); // caption lines
        }
        for (int line = 0; line < 10; line++) {
            g.fillRect(635, 320 + line * 19, 95, 8);
        }
    }
}
