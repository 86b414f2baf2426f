// Test support: whether this build runs under AddressSanitizer (ORVANE_TEST_ASAN),
// for the tests that must skip or change what they do under it.
#ifndef ORVANE_TESTS_SANITIZERS_H
#define ORVANE_TESTS_SANITIZERS_H

#if defined(__SANITIZE_ADDRESS__)
#define ORVANE_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORVANE_TEST_ASAN 1
#endif
#endif

#endif
