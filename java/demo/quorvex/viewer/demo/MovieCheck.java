package quorvex.viewer.demo;

import java.io.File;
import java.nio.charset.StandardCharsets;
import java.util.HashMap;
import java.util.Map;

/** Checks an exported movie with the ffprobe program: codec, size, frame rate and decoded frames. */
final class MovieCheck {
    private MovieCheck() {}

    static void expect(File movie, int frames, int width, int height, int rate) throws Exception {
        if (!movie.isFile() || movie.length() == 0) {
            throw new IllegalStateException("no movie at " + movie);
        }
        Process p = new ProcessBuilder("ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames",
                "-show_entries", "stream=codec_name,width,height,r_frame_rate,nb_read_frames",
                "-of", "default=noprint_wrappers=1", movie.getPath())
                .redirectError(ProcessBuilder.Redirect.INHERIT).start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        if (p.waitFor() != 0) {
            throw new IllegalStateException("ffprobe cannot read " + movie);
        }
        Map<String, String> found = new HashMap<>();
        for (String line : out.split("\n")) {
            String[] kv = line.trim().split("=", 2);
            if (kv.length == 2) found.put(kv[0], kv[1]);
        }
        String got = String.format("%s frames, %sx%s, %s frames/s, %s", found.get("nb_read_frames"),
                found.get("width"), found.get("height"), found.get("r_frame_rate"), found.get("codec_name"));
        String want = String.format("%d frames, %dx%d, %d/1 frames/s, h264", frames, width, height, rate);
        if (!got.equals(want)) {
            throw new IllegalStateException("ffprobe: " + movie + " has " + got + "; expected " + want);
        }
        System.out.println("ffprobe: " + movie.getPath() + ": " + got + " (" + movie.length() + " bytes)");
    }
}
