#include "flash/exitcodes.h"

#include <algorithm>

namespace ormelin::flash {

namespace {

struct CodeText
{
    ExitCode code;
    const char *text;
};

// Most serious first: the order combinedExitCode ranks by.
constexpr CodeText kCodes[] = {
    { ExitInterrupted,
        "interrupted (Ctrl+C, SIGTERM, SIGHUP; or the erase not confirmed): every port stopped "
        "and closed" },
    { ExitUsage, "wrong or missing options (no --port, say)" },
    { ExitListError,
        "the list file cannot be read or holds no object, or lacks the object asked for" },
    { ExitPortNotOpen, "a port did not open" },
    { ExitDeviceLost, "a port's device went away while in use" },
    { ExitNoReply, "the controller did not answer" },
    { ExitRefused, "the controller refused (no room, or write-protected flash)" },
    { ExitObjectError, "an object's file, picture or list row could not be sent" },
    { ExitFailure, "another failure, reported with its text" },
    { ExitWritten, "everything written (or checked, erased, output)" },
};

int rank(int code)
{
    const auto *found = std::find_if(
        std::begin(kCodes), std::end(kCodes), [code](const CodeText &c) { return c.code == code; });
    // An unknown code still fails the run.
    return found == std::end(kCodes) ? rank(ExitFailure) : int(found - std::begin(kCodes));
}

} // namespace

QString exitCodeTable()
{
    QList<CodeText> ordered(std::begin(kCodes), std::end(kCodes));
    std::sort(ordered.begin(), ordered.end(),
        [](const CodeText &a, const CodeText &b) { return a.code < b.code; });
    QString table;
    for (const CodeText &c : ordered)
        table += QStringLiteral("  %1  %2\n").arg(int(c.code), 3).arg(QLatin1String(c.text));
    table += QStringLiteral("With several ports: the most serious of the ports' codes, in the "
                            "order\n130, 2, 3, 5, 8, 7, 6, 4, 1, 0.\n");
    return table;
}

int combinedExitCode(const QList<int> &codes)
{
    int best = ExitWritten;
    for (int code : codes) {
        if (rank(code) < rank(best))
            best = code;
    }
    return best;
}

} // namespace ormelin::flash
