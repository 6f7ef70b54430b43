package quorvex.viewer.test;

import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.List;
import org.junit.AfterClass;
import org.junit.BeforeClass;
import org.junit.Test;

/**
 * Every native method of the viewer's classes binds by its JNI name, and
 * answers the worst arguments Java can pass (0 handles, nulls, zeros)
 * without an exception or a crash.
 */
public class NativeBindingTest {
    /** The viewer classes that declare natives; each subsystem adds its own. */
    static final String[] CLASSES = {
        "quorvex.viewer.Utils",
        "quorvex.viewer.ViewerProperties",
        "quorvex.viewer.OverlayView.GLPolygon",
        "quorvex.viewer.OverlayView.GLImage",
        "quorvex.viewer.OverlayView.GLCacheDrawing",
        "quorvex.viewer.OverlayView.GLCircle",
        "quorvex.viewer.OverlayView.GLDirectBuffer",
        "quorvex.viewer.OverlayView.GLFont",
        "quorvex.viewer.AnimationView.VideoPlaybackMovieCreator",
        "quorvex.viewer.AnimationView.VideoClip",
        "quorvex.viewer.AnimationView.VideoPlay",
    };

    private static GLTestCanvas canvas;

    @BeforeClass
    public static void setUp() {
        NativeLibrary.load();
        canvas = new GLTestCanvas(64, 64);
    }

    @AfterClass
    public static void tearDown() {
        canvas.close();
    }

    static Object zeroOf(Class<?> type) {
        if (type == boolean.class) return false;
        if (type == byte.class) return (byte) 0;
        if (type == short.class) return (short) 0;
        if (type == char.class) return (char) 0;
        if (type == int.class) return 0;
        if (type == long.class) return 0L;
        if (type == float.class) return 0f;
        if (type == double.class) return 0d;
        return null;
    }

    @Test
    public void everyNativeBindsAndSurvivesNullArguments() throws Exception {
        List<String> called = new ArrayList<>();
        for (String name : CLASSES) {
            Class<?> cls = Class.forName(name);
            for (Method m : cls.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                if (m.getName().equals("openDocument")) continue; // exercised in UtilsTest with real paths
                Object[] args = new Object[m.getParameterCount()];
                Class<?>[] types = m.getParameterTypes();
                for (int i = 0; i < args.length; i++) args[i] = zeroOf(types[i]);
                m.setAccessible(true);
                // The movie creator's natives are instance methods.
                Object target = Modifier.isStatic(m.getModifiers()) ? null : cls.getDeclaredConstructor().newInstance();
                try {
                    m.invoke(target, args);
                } catch (InvocationTargetException e) {
                    fail(name + "." + m.getName() + " threw " + e.getCause());
                }
                called.add(name + "." + m.getName());
            }
        }
        assertTrue("no natives found", called.size() >= CLASSES.length);
        assertTrue("a GL error was left behind: " + canvas.glError(), canvas.glError() == 0);
    }
}
