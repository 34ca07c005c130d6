// Win32 events and the waits on them: reset modes, which event a wait on several reports and
// clears, time-outs, and wake-ups from other threads.
#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/Event.h"

namespace {

// Events closed when the test ends.
struct Events {
    explicit Events(std::initializer_list<BOOL> manualReset)
    {
        for (BOOL manual : manualReset)
            handles.push_back(CreateEventA(nullptr, manual, FALSE, nullptr));
    }
    ~Events()
    {
        for (HANDLE handle : handles)
            CloseHandle(handle);
    }
    Events(const Events&) = delete;
    HANDLE operator[](size_t i) const { return handles[i]; }

    std::vector<HANDLE> handles;
};

// Long enough never to end a wait that a set is due to end; a lost wake-up fails instead of hanging.
constexpr DWORD patience = 20000;

}  // namespace

TEST(Event, ManualResetStaysSetAutoResetLetsOneWaitThrough)
{
    Events events{TRUE, FALSE};
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(WaitForSingleObject(events[i], 0), WAIT_TIMEOUT);
        ASSERT_TRUE(SetEvent(events[i]));
    }
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[1], 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[1], 0), WAIT_TIMEOUT);
    ASSERT_TRUE(ResetEvent(events[0]));
    EXPECT_EQ(WaitForSingleObject(events[0], 5), WAIT_TIMEOUT);

    HANDLE initiallySet = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(initiallySet));
}

TEST(Event, WaitForAnyReportsTheLowestSetIndexAndClearsOnlyThatOne)
{
    Events events{FALSE, FALSE, TRUE, FALSE};
    SetEvent(events[1]);
    SetEvent(events[2]);
    SetEvent(events[3]);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 2);
    // The manual-reset event keeps winning; the auto-reset one behind it is left set.
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 2);
    ResetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 0), WAIT_OBJECT_0 + 3);
    EXPECT_EQ(WaitForMultipleObjects(4, events.handles.data(), FALSE, 5), WAIT_TIMEOUT);
}

TEST(Event, WaitForAllNeedsEveryEventAndClearsTheAutoResetOnes)
{
    Events events{FALSE, TRUE};
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, events.handles.data(), TRUE, 5), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // a failed wait for all takes nothing
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, events.handles.data(), TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(events[1], 0), WAIT_OBJECT_0);
}

TEST(Event, SetFromAnotherThreadWakesTheWait)
{
    // Two threads hand a turn back and forth; each hand-off is a wait that only the other's set ends.
    Events events{FALSE, FALSE};
    constexpr int rounds = 2000;
    int lost = 0;
    std::thread partner([&] {
        for (int i = 0; i < rounds; ++i) {
            if (WaitForSingleObject(events[0], patience) != WAIT_OBJECT_0)
                ++lost;
            SetEvent(events[1]);
        }
    });
    int woken = 0;
    for (int i = 0; i < rounds; ++i) {
        SetEvent(events[0]);
        woken += WaitForSingleObject(events[1], patience) == WAIT_OBJECT_0;
    }
    partner.join();
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(woken, rounds);
}
