#pragma once

#include "ClientCalls.h"
#include "HostileServer.h"
#include "StoredPreferences.h"

#include "InstalledManualQueue.h"
#include "LogRecorder.h"
#include "RecordingConsoleScreen.h"
#include "TemporaryHome.h"

#include <gtest/gtest.h>

// A signed-in user's client whose every base URL is a server the test arranges, and what its
// preferences were before the test's calls.
class HostileTest : public testing::Test
{
protected:
    HostileTest() { startOver(server.origin()); }

    // Back to the signed-in preferences, with base as the pinned and every built-in base URL,
    // the server's arrangements forgotten and the screen's record emptied.
    void startOver(const std::string &base)
    {
        home.setVariable("ORVANE_API_BASE_URLS", base + " " + base + " " + base);
        before = preferences.arrangeSignedIn(base);
        server.clear();
        screen.events.clear();
    }

    // The preferences must be those arranged with exactly these changes.
    void expectStored(const Changes &changes = {}) const
    {
        EXPECT_EQ(preferences.read(), changes.appliedTo(before));
    }

    TemporaryHome home;
    InstalledManualQueue queue;
    LogRecorder log;
    RecordingConsoleScreen screen;
    HostileServer server;
    StoredPreferences preferences{home.configHome()};
    ClientCalls calls{*queue, log, screen};
    Stored before;
};
