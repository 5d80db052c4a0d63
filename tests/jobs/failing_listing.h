// The walk's enumeration call, made to fail as a dropped share fails it.
#pragma once
#include <windows.h>

// Installed in place of FindNextFileW by failing_listing_install: each
// listing delivers `fail_at` - 1 further entries, then fails with
// ERROR_UNEXP_NET_ERR (0: never fails). `at_end` (if set) runs when a
// listing truly ends.
struct FailingListing {
    int fail_at;
    void (*at_end)();
};
extern FailingListing g_failing_listing;

// Puts the failing call in (settings cleared) / the platform's back.
void failing_listing_install();
void failing_listing_remove();
