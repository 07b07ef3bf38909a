// Leak checking for the programs that draw text: fontconfig keeps patterns
// it hands out for the process's lifetime, out of our reach, and the leak
// checker would otherwise stop every campaign at the first new font name.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
