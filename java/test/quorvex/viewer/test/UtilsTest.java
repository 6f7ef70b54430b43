package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.io.File;
import org.junit.BeforeClass;
import org.junit.Test;
import quorvex.viewer.Utils;

/** Process facts as the JVM sees them (the document opener is tested natively, tests/boundary). */
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
}
