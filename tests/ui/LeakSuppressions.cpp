// Libraries that Qt loads keep caches they never free: fontconfig (fonts) and,
// on X11, libdbus (the desktop's session bus). LeakSanitizer is told to ignore
// them so that it reports our own leaks only.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libQt6Gui.so\n";
}
