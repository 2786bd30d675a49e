// Letting queued events through during a long task.
#include <gtest/gtest.h>

#include <glib.h>

#include "runtime/runtime.h"

namespace {

gboolean Note(gpointer ran)
{
    ++*static_cast<int*>(ran);
    return G_SOURCE_REMOVE;
}

TEST(ProcessPendingEvents, DispatchesWhatIsQueuedAndDoesNotWaitForMore)
{
    int idleRuns = 0;
    int laterRuns = 0;
    g_idle_add(Note, &idleRuns);
    g_idle_add(Note, &idleRuns);
    // Far enough away that only a call that waits could reach it.
    guint later = g_timeout_add_seconds(30, Note, &laterRuns);

    ProcessPendingEvents();
    EXPECT_EQ(idleRuns, 2);
    EXPECT_EQ(laterRuns, 0);

    // Nothing queued now: it comes back without dispatching anything.
    ProcessPendingEvents();
    EXPECT_EQ(idleRuns, 2);
    EXPECT_EQ(laterRuns, 0);
    g_source_remove(later);
}

// A download calls it before every small read, mostly back to back. Looking for events less often
// then must not mean never, and a call after a pause, such as a read that waited, must look.
TEST(ProcessPendingEvents, BackToBackCallsStillLetNewEventsThrough)
{
    ProcessPendingEvents();
    int runs = 0;
    g_idle_add(Note, &runs);
    const gint64 giveUp = g_get_monotonic_time() + G_USEC_PER_SEC;
    while (runs == 0 && g_get_monotonic_time() < giveUp)
        ProcessPendingEvents();
    EXPECT_EQ(runs, 1);
}

TEST(ProcessPendingEvents, ACallAfterAPauseLooksAtOnce)
{
    ProcessPendingEvents();
    int runs = 0;
    g_idle_add(Note, &runs);
    g_usleep(200);  // a short wait, well inside the interval of the back-to-back calls
    ProcessPendingEvents();
    EXPECT_EQ(runs, 1);
}

// The pending quit is checked in runtime_probe's own process (probe_test.cpp): it never clears.

}  // namespace
