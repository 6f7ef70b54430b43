package quorvex.viewer.test;

/** Loads the library under test once, from the path the build passes in. */
public final class NativeLibrary {
    private static boolean loaded;

    private NativeLibrary() {}

    public static synchronized void load() {
        if (!loaded) {
            String path = System.getProperty("quorvex.library");
            if (path == null) {
                throw new IllegalStateException("set -Dquorvex.library to libquorvexviewer.so");
            }
            System.load(path);
            loaded = true;
        }
    }
}
