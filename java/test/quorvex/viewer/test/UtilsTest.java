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

public class UtilsTest {
    @BeforeClass
    public static void load() {
        NativeLibrary.load();
    }

    @Test
    public void exeDirIsTheLoadedLibrary() throws Exception {
        String path = Utils.getExeDir();
        File expected = new File(System.getProperty("quorvex.library"));
        assertEquals(expected.getCanonicalPath(), new File(path).getCanonicalPath());
    }

    @Test
    public void processIdentity() {
        long javaPid = ProcessHandle.current().pid();
        assertEquals(javaPid, Utils.getPid());
        assertTrue(Utils.isValidPid(Utils.getPid()));
        assertFalse(Utils.isValidPid(Utils.getPid() + 1));
        assertFalse(Utils.isValidPid(-1));
    }

    @Test
    public void fixedAnswersOfThisPlatform() {
        assertEquals("", Utils.getDocumentFolder0());
        assertEquals("", Utils.getOpenGLVersion());
        assertEquals("", Utils.getPidPath(1234));
        assertTrue(Utils.hasSuitableOpenglVersion());
        assertTrue(Utils.isWriteableImpl("/nonexistent/anything"));
        assertTrue(Utils.isWriteableImpl(null));
    }

    @Test
    public void hashValues() {
        assertEquals(0L, Utils.getHashValue(""));
        assertEquals(97L, Utils.getHashValue("a"));
        assertEquals(6363201L, Utils.getHashValue("ab"));
        // Bytes of "é" (C3 A9) count as negative values.
        assertEquals(9223372036850774182L, Utils.getHashValue("\u00e9"));
        assertEquals(0L, Utils.getHashValue(null));
        assertTrue(Utils.getHashValue("a string long enough to wrap the accumulator many times") >= 0);
    }

    /** The JVM's own child processes that are still running (not zombies). */
    private static List<Long> runningChildren() throws Exception {
        List<Long> result = new ArrayList<>();
        File[] tasks = new File("/proc/self/task").listFiles();
        for (File task : tasks) {
            Path children = task.toPath().resolve("children");
            if (!Files.exists(children)) continue;
            for (String pid : Files.readString(children).trim().split("\\s+")) {
                if (pid.isEmpty()) continue;
                Path stat = Path.of("/proc", pid, "stat");
                if (!Files.exists(stat)) continue;
                String s = Files.readString(stat);
                char state = s.charAt(s.lastIndexOf(')') + 2);
                if (state != 'Z') result.add(Long.parseLong(pid));
            }
        }
        return result;
    }

    @Test
    public void openDocumentRefusesBadPathsWithoutForking() throws Exception {
        List<Long> before = runningChildren();
        assertFalse(ViewerProperties.openDocument("/tmp/" + "x".repeat(300)));
        assertFalse(ViewerProperties.openDocument(""));
        assertFalse(ViewerProperties.openDocument(null));
        assertEquals(before, runningChildren());
    }

    @Test
    public void openDocumentWithoutAnOpenerNeverLeavesASecondJvm() throws Exception {
        assumeFalse("the desktop opener is installed here", new File("/usr/bin/xdg-open").exists());
        assertTrue(ViewerProperties.openDocument("/tmp/some document.pdf"));
        // The child's exec fails: it must end at once instead of running on as a copy of this JVM.
        long deadline = System.currentTimeMillis() + 5000;
        while (!runningChildren().isEmpty() && System.currentTimeMillis() < deadline) {
            Thread.sleep(20);
        }
        assertEquals(List.of(), runningChildren());
    }
}
