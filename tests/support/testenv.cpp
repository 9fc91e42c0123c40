// Linked into every test binary, so that one started by hand behaves as under ctest.
#include <QByteArray>
#include <QtGlobal>

namespace {

// Before main() builds the application object: a window test started outside ctest would
// otherwise look for a display. A platform given by whoever starts the test is kept.
const bool g_platformChosen = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

} // namespace

// The sanitizers' settings, read by their runtimes at start-up in the sanitizer builds and
// unused otherwise. Their *_OPTIONS environment variables still add to or override these.
extern "C" {
const char *__asan_default_options()
{
    return "detect_leaks=1";
}
const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
const char *__lsan_default_options()
{
    return "suppressions=" ORMELIN_TESTS_DIR "/lsan.supp";
}
const char *__tsan_default_options()
{
    return "suppressions=" ORMELIN_TESTS_DIR "/tsan.supp:halt_on_error=1:second_deadlock_stack=1";
}
}
