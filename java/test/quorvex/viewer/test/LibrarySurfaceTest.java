package quorvex.viewer.test;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.lang.invoke.MethodType;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import org.junit.Test;
import quorvex.viewer.Utils;

/**
 * The shipped library exports exactly what the JVM binds (every native of the viewer's classes, by its
 * short or its long JNI name), the load hooks, the plain video functions and the indexed circle add
 * that Java cannot declare, all under the library's version node, and nothing else.
 */
public class LibrarySurfaceTest {
    static final List<String> FIXED = List.of("JNI_OnLoad", "JNI_OnUnload", "getFrameId", "getTimeStamp",
            "openVideoFile", "updatewithFrameNo", "play", "pause", "stop", "close",
            "Java_quorvex_viewer_OverlayView_GLCircle_addCircle__IIFFFFFF");
    static final String VERSION = "QUORVEXVIEWER_1.0";

    /** JNI's escaping of a class name, method name or signature. */
    static String mangle(String s) {
        StringBuilder out = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c == '_') out.append("_1");
            else if (c == ';') out.append("_2");
            else if (c == '[') out.append("_3");
            else if (c == '.' || c == '/') out.append('_');
            else if (c < 128 && Character.isLetterOrDigit(c)) out.append(c);
            else out.append(String.format("_0%04x", (int) c));
        }
        return out.toString();
    }

    /** Short and long JNI names of every native declared in the viewer's jar. */
    static List<String[]> declaredNatives() throws Exception {
        List<String[]> natives = new ArrayList<>();
        File jar = new File(Utils.class.getProtectionDomain().getCodeSource().getLocation().toURI());
        try (JarFile file = new JarFile(jar)) {
            for (Enumeration<JarEntry> e = file.entries(); e.hasMoreElements();) {
                String entry = e.nextElement().getName();
                if (!entry.endsWith(".class")) continue;
                String name = entry.substring(0, entry.length() - 6).replace('/', '.');
                for (Method m : Class.forName(name, false, Utils.class.getClassLoader()).getDeclaredMethods()) {
                    if (!Modifier.isNative(m.getModifiers())) continue;
                    String shortName = "Java_" + mangle(name) + "_" + mangle(m.getName());
                    String type = MethodType.methodType(void.class, m.getParameterTypes()).toMethodDescriptorString();
                    String args = type.substring(1, type.indexOf(')'));
                    natives.add(new String[] {shortName, shortName + "__" + mangle(args)});
                }
            }
        }
        return natives;
    }

    /** Defined dynamic symbols of the library, as "name@@version". */
    static Set<String> exportedSymbols(String library) throws Exception {
        Process nm = new ProcessBuilder("nm", "-D", "--defined-only", library).redirectErrorStream(true).start();
        Set<String> symbols = new TreeSet<>();
        try (BufferedReader in = new BufferedReader(new InputStreamReader(nm.getInputStream()))) {
            for (String line; (line = in.readLine()) != null;) {
                String[] f = line.trim().split("\\s+");
                // The version node's own definition symbol is not an export.
                if (f.length == 3 && !(f[1].equals("A") && f[2].equals(VERSION))) symbols.add(f[2]);
            }
        }
        assertEquals("nm -D " + library, 0, nm.waitFor());
        return symbols;
    }

    @Test
    public void exportsExactlyTheNativesTheLoadHooksAndThePlainFunctions() throws Exception {
        Set<String> exported = new TreeSet<>();
        for (String symbol : exportedSymbols(System.getProperty("quorvex.library"))) {
            assertTrue(symbol + " lacks the library's version node", symbol.endsWith("@@" + VERSION));
            exported.add(symbol.substring(0, symbol.indexOf('@')));
        }
        List<String[]> natives = declaredNatives();
        assertTrue("no natives found in the viewer's jar", natives.size() > 50);
        Set<String> missing = new TreeSet<>(FIXED);
        missing.removeAll(exported);
        for (String[] names : natives) {
            if (!exported.contains(names[0]) && !exported.contains(names[1])) missing.add(names[0]);
            exported.remove(names[0]);
            exported.remove(names[1]);
        }
        exported.removeAll(FIXED);
        assertEquals("natives without their export", Set.of(), missing);
        assertEquals("exported beyond the natives and the fixed list", Set.of(), exported);
    }
}
