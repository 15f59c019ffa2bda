// The system's font configuration library keeps a few allocations for the
// life of the process once Qt has asked it for fonts; they are not ours.
extern "C" __attribute__((used)) const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig\n";
}
