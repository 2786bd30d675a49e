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

// The pending quit is checked in runtime_probe's own process (probe_test.cpp): it never clears.

}  // namespace
