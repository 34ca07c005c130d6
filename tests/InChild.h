// Work that may crash or hang, run in a child process so that a fault fails the test instead of
// the whole run.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OMBRIX_TESTS_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define OMBRIX_TESTS_ASAN 1
#endif
#ifdef OMBRIX_TESTS_ASAN
#include <sanitizer/lsan_interface.h>
#endif

// Whether the child leaked: _exit skips the leak check that ends a sanitized process.
inline bool leaked()
{
#ifdef OMBRIX_TESTS_ASAN
    return __lsan_do_recoverable_leak_check() != 0;
#else
    return false;
#endif
}

// Runs body in a child process, so that a crash, or a hang that the alarm ends, fails the test
// instead of the whole run; body reports its faults on standard error and returns false (it may
// set its own alarms). The child repeats the test up to here: a forked one would share the file
// reader's kernel ring.
inline void expectInChild(const std::function<bool()>& body, const char* what)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT((alarm(5), _exit(body() && !leaked() ? 0 : 1)), testing::ExitedWithCode(0), "") << what;
}
