// Fontconfig, through which Xft finds the font of the curtain's label, keeps a few hundred bytes of
// the configuration it parsed unreachable for the rest of the process. The sanitizer run is about
// leaks of our own.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
