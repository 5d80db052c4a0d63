#include "failing_listing.h"
#include "jobs/walk.h"

FailingListing g_failing_listing;
static int g_calls;

static BOOL WINAPI failing_find_next(HANDLE find, WIN32_FIND_DATAW* entry)
{
    if (g_failing_listing.fail_at && ++g_calls == g_failing_listing.fail_at) {
        g_calls = 0;
        SetLastError(ERROR_UNEXP_NET_ERR);
        return FALSE;
    }
    BOOL more = FindNextFileW(find, entry);
    if (!more) {
        g_calls = 0;
        if (g_failing_listing.at_end)
            g_failing_listing.at_end();
        SetLastError(ERROR_NO_MORE_FILES);
    }
    return more;
}

void failing_listing_install()
{
    g_failing_listing = {0, nullptr};
    g_calls = 0;
    walk_find_next = failing_find_next;
}

void failing_listing_remove()
{
    walk_find_next = FindNextFileW;
}
