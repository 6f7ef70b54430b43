package quorvex.viewer;

/** Process facts and helpers answered by the native library. */
public final class Utils {
    private Utils() {}

    public static native String getExeDir();
    public static native int getPid();
    public static native boolean isValidPid(int id);
    public static native String getDocumentFolder0();
    public static native String getOpenGLVersion();
    public static native boolean hasSuitableOpenglVersion();
    public static native boolean isWriteableImpl(String str);
    public static native String getPidPath(int id);
    public static native long getHashValue(String str);
}
