package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.File;
import java.lang.reflect.Array;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import org.junit.ClassRule;
import org.junit.Test;
import quorvex.viewer.Utils;

/**
 * Every native method of the viewer's classes binds by its JNI name and answers the worst arguments
 * Java can pass (0 handles, nulls, zeros) with its failure value (0, false, null, "" or an empty
 * array), without an exception or a crash; the process facts answer as the JVM sees them.
 */
public class NativeBindingTest {
    /** The class, then its natives rightly not answering a failure value, as "name" or "name=answer". */
    static final String[][] CLASSES = {
        {"quorvex.viewer.Utils", "getExeDir", "getPid", "hasSuitableOpenglVersion=true", "isWriteableImpl"},
        {"quorvex.viewer.ViewerProperties"},
        {"quorvex.viewer.OverlayView.GLPolygon", "drawQuadTexture=1"},
        {"quorvex.viewer.OverlayView.GLImage"},
        {"quorvex.viewer.OverlayView.GLCacheDrawing", "intGLCache"},
        {"quorvex.viewer.OverlayView.GLCircle"},
        {"quorvex.viewer.OverlayView.GLDirectBuffer", "iniHeatmapBuffer_n"},
        {"quorvex.viewer.OverlayView.GLFont"},
        {"quorvex.viewer.AnimationView.VideoClip", "loadNextFrame=-1", "GetVideoTable=-2", "SetVideoTable=-2"},
        {"quorvex.viewer.AnimationView.VideoPlay", "initVideoEnvironment"},
        // Refused starts still answer true; a frame then reports the dead export (-1), idle 0.
        {"quorvex.viewer.AnimationView.VideoPlaybackMovieCreator", "initSaveVideo=true", "saveFrame", "closeAVI=true"},
    };

    @ClassRule
    public static final GLTestCanvas canvas = new GLTestCanvas(64, 64);

    /** 0, false or null of the type: a primitive array's first element. */
    static Object zeroOf(Class<?> type) {
        return type.isPrimitive() ? Array.get(Array.newInstance(type, 1), 0) : null;
    }

    static boolean isFailureValue(Object result) {
        return result == null || result.equals(Boolean.FALSE) || "".equals(result)
            || (result instanceof Number && ((Number) result).doubleValue() == 0)
            || (result.getClass().isArray() && Array.getLength(result) == 0);
    }

    @Test
    public void everyNativeBindsAndAnswersZeroArgumentsWithItsFailureValue() throws Exception {
        List<String> wrong = new ArrayList<>();
        for (String[] row : CLASSES) {
            Map<String, String> exempt = new HashMap<>();
            for (String e : Arrays.asList(row).subList(1, row.length)) exempt.put(e.split("=")[0], e.contains("=") ? e.split("=")[1] : null);
            Set<String> seen = new HashSet<>();
            Class<?> cls = Class.forName(row[0]);
            for (Method m : cls.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                String name = m.getName();
                Object[] args = Arrays.stream(m.getParameterTypes()).map(NativeBindingTest::zeroOf).toArray();
                m.setAccessible(true);
                // The movie creator's natives are instance methods.
                Object target = Modifier.isStatic(m.getModifiers()) ? null : cls.getDeclaredConstructor().newInstance();
                Object result = null;
                try {
                    result = m.invoke(target, args);
                } catch (InvocationTargetException e) {
                    fail(row[0] + "." + name + " threw " + e.getCause());
                }
                seen.add(name);
                boolean right = m.getReturnType() == void.class || (exempt.containsKey(name)
                        ? exempt.get(name) == null || exempt.get(name).equals(String.valueOf(result)) : isFailureValue(result));
                if (!right) wrong.add(row[0] + "." + name + " = " + result);
            }
            assertTrue(row[0] + " has no natives", !seen.isEmpty());
            exempt.keySet().removeAll(seen);
            assertEquals("exempted natives that do not exist", Map.of(), exempt);
        }
        assertEquals("natives that did not answer 0/null with their failure value", List.of(), wrong);
    }

    /** The document opener is tested natively (tests/boundary). */
    @Test
    public void exeDirAndPidAreThoseOfThisProcess() throws Exception {
        File library = new File(System.getProperty("quorvex.library"));
        assertEquals(library.getCanonicalPath(), new File(Utils.getExeDir()).getCanonicalPath());
        assertEquals(ProcessHandle.current().pid(), Utils.getPid());
        assertTrue(Utils.isValidPid(Utils.getPid()));
        assertFalse(Utils.isValidPid(Utils.getPid() + 1));
    }
}
