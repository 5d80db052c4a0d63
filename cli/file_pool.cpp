// The workers, the ring of slots they take files from, and the in-order
// giving out of what each file yielded.
#include "cli/file_pool.h"
#include "engine/operand_heap.h"
#include <windows.h>
#include <string.h>
#include <wchar.h>

// A file handed in (or a finding of the walk), from the moment it is handed
// in until its outcome has been given out.
struct PoolSlot {
    wchar_t* path;                  // kLongPathChars
    bool is_file;                   // false: a finding of the walk, finished at once
    bool has_expected;
    bool done;
    uint8_t expected[kDigestBytes];
    FileOutcome outcome;
};

// Slots per worker: one being worked on and one waiting, so that a worker
// finds the next file ready while the walk looks for the one after.
constexpr int kSlotsPerWorker = 2;

static SRWLOCK g_lock = SRWLOCK_INIT;
static CONDITION_VARIABLE g_work_queued = CONDITION_VARIABLE_INIT;   // a file was handed in, or the pool closes
static CONDITION_VARIABLE g_work_done = CONDITION_VARIABLE_INIT;     // a worker finished a file

// The ring. Only the calling thread moves g_head and g_tail; workers move
// g_next_take. All three under g_lock, except that the calling thread reads
// its own two without it.
static PoolSlot* g_slots;
static int g_slot_count;
static uint64_t g_head;       // the next slot to give out
static uint64_t g_tail;       // the next slot to fill
static uint64_t g_next_take;  // the next slot a worker takes
static bool g_closing;

static int g_jobs = 1;
static FileJob g_job;
static GiveOut g_give_out;
static FileWork* g_works;     // one per worker
static HANDLE g_threads[kMaxJobs];

void file_finding(FileWork* work, FindingStatus status)
{
    FileOutcome* o = &work->outcome;
    if (o->finding_count < kMaxFileFindings)
        o->findings[o->finding_count++] = status;
}

// Works on one file with `work`, from a clean outcome.
static void work_on(FileWork* work, const wchar_t* path, const uint8_t* expected)
{
    work->outcome.finding_count = 0;
    work->outcome.manifest_line = false;
    work->outcome.time_lost = false;
    work->outcome.repairable = -1;
    work->expected = expected;
    g_job(work, path);
}

int pool_jobs()
{
    return g_jobs;
}

static DWORD WINAPI worker_thread(void* arg)
{
    FileWork* work = (FileWork*)arg;
    AcquireSRWLockExclusive(&g_lock);
    for (;;) {
        while (g_next_take == g_tail && !g_closing)
            SleepConditionVariableSRW(&g_work_queued, &g_lock, INFINITE, 0);
        if (g_next_take == g_tail)
            break;   // closing, and nothing left to take
        PoolSlot* slot = &g_slots[g_next_take++ % (uint64_t)g_slot_count];
        if (!slot->is_file)
            continue;
        ReleaseSRWLockExclusive(&g_lock);

        work_on(work, slot->path, slot->has_expected ? slot->expected : nullptr);
        slot->outcome = work->outcome;

        AcquireSRWLockExclusive(&g_lock);
        slot->done = true;
        WakeConditionVariable(&g_work_done);
    }
    ReleaseSRWLockExclusive(&g_lock);
    return 0;
}

// Gives out finished slots from the head, in order; first waits until the
// head has reached `until` (every slot before it given out).
static void give_out_finished(uint64_t until)
{
    for (;;) {
        AcquireSRWLockExclusive(&g_lock);
        while (g_head < until && !g_slots[g_head % (uint64_t)g_slot_count].done)
            SleepConditionVariableSRW(&g_work_done, &g_lock, INFINITE, 0);
        bool ready = g_head < g_tail && g_slots[g_head % (uint64_t)g_slot_count].done;
        ReleaseSRWLockExclusive(&g_lock);
        if (!ready)
            return;
        // No worker touches a finished slot, and only this thread refills it.
        PoolSlot* slot = &g_slots[g_head % (uint64_t)g_slot_count];
        g_give_out(slot->path, &slot->outcome);
        AcquireSRWLockExclusive(&g_lock);
        ++g_head;
        // A finding of the walk is finished at once and may be given out
        // before any worker has passed over it: no worker may take its index
        // later, when the slot already holds another file.
        if (g_next_take < g_head)
            g_next_take = g_head;
        ReleaseSRWLockExclusive(&g_lock);
    }
}

// A free slot at the tail, after giving out what has to go first.
static PoolSlot* free_slot()
{
    uint64_t count = (uint64_t)g_slot_count;
    give_out_finished(g_tail >= count ? g_tail - count + 1 : 0);
    return &g_slots[g_tail % count];
}

static void publish_slot()
{
    AcquireSRWLockExclusive(&g_lock);
    ++g_tail;
    WakeConditionVariable(&g_work_queued);
    ReleaseSRWLockExclusive(&g_lock);
}

static void copy_path(wchar_t* to, const wchar_t* path)
{
    size_t len = wcsnlen(path, kLongPathChars - 1);
    memcpy(to, path, len * sizeof(wchar_t));
    to[len] = L'\0';
    to[kLongPathChars - 1] = L'\0';
}

static void release_all()
{
    HANDLE heap = GetProcessHeap();
    if (g_slots) {
        for (int i = 0; i < g_slot_count; ++i)
            HeapFree(heap, 0, g_slots[i].path);
        operand_heap_free(g_slots);
    }
    if (g_works)
        VirtualFree(g_works, 0, MEM_RELEASE);
    g_slots = nullptr;
    g_works = nullptr;
    g_slot_count = 0;
}

bool pool_start(int jobs, FileJob job, GiveOut give_out)
{
    if (jobs < 1 || jobs > kMaxJobs)
        return false;
    g_job = job;
    g_give_out = give_out;
    g_head = g_tail = g_next_take = 0;
    g_closing = false;
    g_jobs = jobs;
    HANDLE heap = GetProcessHeap();
    // Untouched until used: a worker's path buffers cost only what its paths fill.
    g_works = (FileWork*)VirtualAlloc(nullptr, sizeof(FileWork) * (SIZE_T)jobs, MEM_COMMIT | MEM_RESERVE,
                                      PAGE_READWRITE);
    if (!g_works)
        return false;
    if (jobs == 1)
        return true;   // no thread: each file is worked on as it is handed in

    g_slot_count = kSlotsPerWorker * jobs;
    // A slot's outcome holds digests a transform writes: aligned heap.
    g_slots = (PoolSlot*)operand_heap_alloc(sizeof(PoolSlot) * (SIZE_T)g_slot_count);
    bool made = g_slots != nullptr;
    for (int i = 0; made && i < g_slot_count; ++i) {
        g_slots[i].path = (wchar_t*)HeapAlloc(heap, 0, kLongPathChars * sizeof(wchar_t));
        made = g_slots[i].path != nullptr;
    }
    int started = 0;
    for (; made && started < jobs; ++started) {
        g_works[started].worker = started;
        g_threads[started] = CreateThread(nullptr, 0, worker_thread, &g_works[started], 0, nullptr);
        made = g_threads[started] != nullptr;
    }
    if (made)
        return true;

    // Could not make them all: end those that run, and start nothing.
    AcquireSRWLockExclusive(&g_lock);
    g_closing = true;
    WakeAllConditionVariable(&g_work_queued);
    ReleaseSRWLockExclusive(&g_lock);
    for (int i = 0; i < started; ++i) {
        if (!g_threads[i])
            continue;
        WaitForSingleObject(g_threads[i], INFINITE);
        CloseHandle(g_threads[i]);
    }
    release_all();
    g_jobs = 1;
    return false;
}

// Fills the slot at the tail and hands it in: a file to work on, or a
// finding of the walk that is finished as it is.
static void hand_in(const wchar_t* path, const uint8_t* expected, const FindingStatus* walk_finding)
{
    PoolSlot* slot = free_slot();
    copy_path(slot->path, path);
    slot->is_file = walk_finding == nullptr;
    slot->done = !slot->is_file;
    slot->has_expected = expected != nullptr;
    if (expected)
        memcpy(slot->expected, expected, kDigestBytes);
    slot->outcome.finding_count = slot->is_file ? 0 : 1;
    slot->outcome.manifest_line = false;
    slot->outcome.time_lost = false;
    slot->outcome.repairable = -1;
    if (walk_finding)
        slot->outcome.findings[0] = *walk_finding;
    publish_slot();
    give_out_finished(0);
}

void pool_submit(const wchar_t* path, const uint8_t* expected)
{
    if (g_jobs > 1) {
        hand_in(path, expected, nullptr);
        return;
    }
    FileWork* work = &g_works[0];
    work_on(work, path, expected);
    g_give_out(path, &work->outcome);
}

void pool_submit_finding(const wchar_t* path, FindingStatus status)
{
    if (g_jobs > 1) {
        hand_in(path, nullptr, &status);
        return;
    }
    FileOutcome outcome = {};
    outcome.repairable = -1;
    outcome.finding_count = 1;
    outcome.findings[0] = status;
    g_give_out(path, &outcome);
}

void pool_finish()
{
    if (g_jobs > 1) {
        give_out_finished(g_tail);
        AcquireSRWLockExclusive(&g_lock);
        g_closing = true;
        WakeAllConditionVariable(&g_work_queued);
        ReleaseSRWLockExclusive(&g_lock);
        WaitForMultipleObjects((DWORD)g_jobs, g_threads, TRUE, INFINITE);
        for (int i = 0; i < g_jobs; ++i)
            CloseHandle(g_threads[i]);
    }
    release_all();
    g_jobs = 1;
}
