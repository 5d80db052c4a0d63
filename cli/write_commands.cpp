// create and rewrite: the two commands that store digests. Both hash the
// data and take its last-write time from the same handle, and store only a
// digest of complete data.
#include "cli/cli_state.h"
#include "cli/commands.h"
#include "cli/findings.h"
#include "cli/targets.h"
#include <string.h>

bool store_digest(const wchar_t* path, const uint8_t* digest, const FILETIME* last_write)
{
    if (g_cli.interrupted.load())
        return false;
    if (write_digest_stream(g_stream_path, g_file_path, digest, last_write, &g_cli.writing)) {
        ++g_cli.written;
        return true;
    }
    if (g_cli.writing.load() == kWritesClosed)
        return false;
    add_finding(StatusNotWritten, path);
    return true;
}

// Hashes the data and takes its last-write time from the same handle.
// False, after an "unreadable" finding, when the data did not come whole.
static bool hash_for_storing(const wchar_t* path, uint8_t* digest, FILETIME* last_write)
{
    if (hash_file_data(g_file_path, digest, last_write, g_cli.gate, &g_cli.done_bytes))
        return true;
    add_finding(StatusUnreadable, path);
    return false;
}

static bool create_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    if (stream_exists(g_stream_path)) {
        ++g_cli.carried;
        return true;
    }
    alignas(16) uint8_t digest[kDigestBytes];
    FILETIME last_write;
    if (!hash_for_storing(path, digest, &last_write))
        return true;
    return store_digest(path, digest, &last_write);
}

static bool rewrite_file(const wchar_t* path)
{
    if (!begin_file(path, StatusUnreadable))
        return true;
    uint8_t stored[kDigestBytes];
    StoredDigest found = read_stored_digest(g_stream_path, stored);
    if (found == DigestMissing) {
        add_finding(StatusNoDigest, path);
        return true;
    }
    if (found == DigestLocked) {
        // A digest that could not be read is not known to be wrong.
        add_finding(StatusUnreadable, path);
        return true;
    }
    alignas(16) uint8_t digest[kDigestBytes];
    FILETIME last_write;
    if (!hash_for_storing(path, digest, &last_write))
        return true;
    if (found == DigestRead && memcmp(stored, digest, kDigestBytes) == 0) {
        ++g_cli.matched;
        return true;
    }
    return store_digest(path, digest, &last_write);
}

void run_create()
{
    visit_targets(create_file);
}

void run_rewrite()
{
    visit_targets(rewrite_file);
}
