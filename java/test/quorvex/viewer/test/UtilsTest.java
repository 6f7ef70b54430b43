package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeFalse;

import java.io.File;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.Utils;
import quorvex.viewer.ViewerProperties;

/** Process facts as the JVM sees them, and the document opener's children. */
public class UtilsTest {
    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Test
    public void exeDirAndPidAreThoseOfThisProcess() throws Exception {
        File expected = new File(System.getProperty("quorvex.library"));
        assertEquals(expected.getCanonicalPath(), new File(Utils.getExeDir()).getCanonicalPath());
        assertEquals(ProcessHandle.current().pid(), Utils.getPid());
        assertTrue(Utils.isValidPid(Utils.getPid()));
        assertFalse(Utils.isValidPid(Utils.getPid() + 1));
    }

    /** The JVM's own child processes that are still running (not zombies). */
    private static List<Long> runningChildren() throws Exception {
        List<Long> result = new ArrayList<>();
        for (File task : new File("/proc/self/task").listFiles()) {
            Path children = task.toPath().resolve("children");
            if (!Files.exists(children)) continue;
            for (String pid : Files.readString(children).trim().split("\\s+")) {
                Path stat = Path.of("/proc", pid, "stat");
                if (pid.isEmpty() || !Files.exists(stat)) continue;
                String s = Files.readString(stat);
                if (s.charAt(s.lastIndexOf(')') + 2) != 'Z') result.add(Long.parseLong(pid));
            }
        }
        return result;
    }

    @Test
    public void openDocumentNeverLeavesASecondJvm() throws Exception {
        List<Long> before = runningChildren();
        assertFalse(ViewerProperties.openDocument("/tmp/" + "x".repeat(300)));
        assertFalse(ViewerProperties.openDocument(""));
        assertEquals(before, runningChildren());
        assumeFalse("the desktop opener is installed here", new File("/usr/bin/xdg-open").exists());
        assertTrue(ViewerProperties.openDocument("/tmp/some document.pdf"));
        // The child's exec fails: it must end at once instead of running on as a copy of this JVM.
        long deadline = System.currentTimeMillis() + 5000;
        while (!runningChildren().isEmpty() && System.currentTimeMillis() < deadline) Thread.sleep(20);
        assertEquals(List.of(), runningChildren());
    }
}
