#pragma once
// Skips for a test that needs the headless session (a display, the sound server's
// sinks, the session's tools). A developer running one test by hand outside the
// session gets a skip; scripts/test and CI set TAVORIA_REQUIRE_SESSION=1, and there a
// missing session fails the test, so the suite cannot pass without its sound and
// display checks.
#include <QtTest>

#define TAVORIA_SKIP_WITHOUT_SESSION(reason)                                                       \
    do {                                                                                           \
        if (qEnvironmentVariableIntValue("TAVORIA_REQUIRE_SESSION") == 1)                          \
            QFAIL(qPrintable(QStringLiteral("the headless session is required here: ") +           \
                             QStringLiteral(reason)));                                             \
        QSKIP(reason);                                                                             \
    } while (false)
