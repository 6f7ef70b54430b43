// Plain exported functions of the video side that nothing in the library
// calls; they answer with fixed results. Their names (close, pause) are also
// libc's: the library's version script gives them a version node of ours, so
// references bound to glibc's versions never reach these. Keep <unistd.h>
// and <signal.h> out of this file: they declare libc's close and pause.

extern "C" {

__attribute__((visibility("default"))) int getFrameId() { return 1; }
__attribute__((visibility("default"))) int getTimeStamp() { return 1; }
__attribute__((visibility("default"))) int openVideoFile(char*) { return 0; }
__attribute__((visibility("default"))) int updatewithFrameNo(int) { return 1; }
__attribute__((visibility("default"))) void play() { }
__attribute__((visibility("default"))) void pause(bool) { }
__attribute__((visibility("default"))) void stop() { }
__attribute__((visibility("default"))) void close() { }

} // extern "C"
