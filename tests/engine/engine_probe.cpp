#include "engine_probe.h"
#include <stdlib.h>
#include "test_env.h"
#include "oracle.h"
#include <string.h>

EngineTrace g_trace;
static std::atomic<bool> tracing;
static BlockTransformFn inner_transform;
static std::atomic<char> last_call;

typedef BOOL(WINAPI* ReadFileFn)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
typedef DWORD(WINAPI* WaitFn)(HANDLE, DWORD);
static ReadFileFn real_read;
static WaitFn real_wait;

static void note(char c)
{
    int at = g_trace.order_len.fetch_add(1);
    if (at < (int)sizeof g_trace.order - 1) g_trace.order[at] = c;
}

static BOOL WINAPI hooked_read(HANDLE file, LPVOID buffer, DWORD want, LPDWORD got, LPOVERLAPPED ov)
{
    if (!tracing.load() || GetCurrentThreadId() != g_trace.thread_id.load())
        return real_read(file, buffer, want, got, ov);
    if (last_call.exchange('R') != 'W') g_trace.read_without_wait++;
    note('R');
    g_trace.reads++;
    if (buffer != ReadBuffer || want != kReadSize) g_trace.bad_reads++;
    if (g_trace.fail_next.load() > 0) {
        g_trace.fail_next--;
        if (got) *got = 0;
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    BOOL ok = real_read(file, buffer, want, got, ov);
    if (g_trace.reset_gate_after_read == g_trace.reads.load()) ResetEvent(g_trace.expected_gate);
    return ok;
}

static DWORD WINAPI hooked_wait(HANDLE h, DWORD ms)
{
    if (tracing.load() && GetCurrentThreadId() == g_trace.thread_id.load()) {
        last_call = 'W';
        note('W');
        g_trace.waits++;
        if (h != g_trace.expected_gate || ms != INFINITE) g_trace.bad_waits++;
    }
    return real_wait(h, ms);
}

// Replaces every import-table slot of this program that holds `real` by `hook`.
static int patch_imports(void* real, void* hook)
{
    uint8_t* base = (uint8_t*)GetModuleHandleW(nullptr);
    IMAGE_DOS_HEADER* dos = (IMAGE_DOS_HEADER*)base;
    IMAGE_NT_HEADERS* nt = (IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return 0;
    int patched = 0;
    for (IMAGE_IMPORT_DESCRIPTOR* d = (IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress); d->Name; ++d) {
        for (IMAGE_THUNK_DATA* t = (IMAGE_THUNK_DATA*)(base + d->FirstThunk); t->u1.Function; ++t) {
            if ((void*)t->u1.Function != real) continue;
            DWORD old;
            VirtualProtect(&t->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            t->u1.Function = (ULONG_PTR)hook;
            VirtualProtect(&t->u1.Function, sizeof(void*), old, &old);
            ++patched;
        }
    }
    return patched;
}

bool install_engine_hooks()
{
    static int state;  // 0 not tried, 1 placed, -1 failed
    if (state == 0) {
        HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
        real_read = (ReadFileFn)(void*)GetProcAddress(k32, "ReadFile");
        real_wait = (WaitFn)(void*)GetProcAddress(k32, "WaitForSingleObject");
        int a = patch_imports((void*)real_read, (void*)hooked_read);
        int b = patch_imports((void*)real_wait, (void*)hooked_wait);
        state = (a > 0 && b > 0) ? 1 : -1;
    }
    return state == 1;
}

static void counting_transform()
{
    g_trace.compressions++;
    if (block_ptr < ReadBuffer || block_ptr + 64 > ReadBuffer + kReadSize + 64) g_trace.blocks_outside_buffer++;
    if ((uintptr_t)block_ptr % 16 != 0) g_trace.blocks_misaligned++;
    if (state_ptr != g_trace.expected_state) g_trace.state_elsewhere++;
    g_trace.last_block = block_ptr;
    inner_transform();
}

void start_trace(BlockTransformFn inner, HANDLE gate, const uint8_t* digest)
{
    g_trace.reads = 0;
    g_trace.waits = 0;
    g_trace.fail_next = 0;
    g_trace.bad_reads = 0;
    g_trace.bad_waits = 0;
    g_trace.read_without_wait = 0;
    memset(g_trace.order, 0, sizeof g_trace.order);
    g_trace.order_len = 0;
    last_call = 0;
    g_trace.expected_gate = gate;
    g_trace.compressions = 0;
    g_trace.blocks_outside_buffer = 0;
    g_trace.blocks_misaligned = 0;
    g_trace.state_elsewhere = 0;
    g_trace.expected_state = digest;
    g_trace.last_block = nullptr;
    g_trace.reset_gate_after_read = 0;
    g_trace.thread_id = GetCurrentThreadId();
    inner_transform = inner;
    BlockTransform = counting_transform;
    tracing = true;
}

void stop_trace()
{
    tracing = false;
    BlockTransform = inner_transform;
}

void ensure_tables()
{
    static bool built;
    if (!built) {
        build_digest_tables();
        built = true;
    }
}

// One folder per processor model: the emulated entries run beside the
// native one and write files of the same names.
static std::string engine_files_name()
{
    const char* model = getenv("QEMU_CPU");
    return std::string("engine-files") + (model ? std::string("-") + model : std::string());
}

std::string engine_files_linux_dir()
{
    return to_linux_path(build_dir()) + "/" + engine_files_name();
}

std::wstring engine_file(const std::string& name, const std::string& content)
{
    std::wstring dir = build_dir() + L"\\" + widen(engine_files_name());
    CreateDirectoryW(dir.c_str(), nullptr);
    std::wstring path = dir + L"\\" + widen(name);
    if (!write_file(path, content)) return {};
    return path;
}

HANDLE open_for_digest(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

std::string random_bytes(size_t n, uint64_t seed)
{
    std::string s(n, '\0');
    uint64_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        // splitmix64
        x += 0x9e3779b97f4a7c15ull;
        uint64_t z = x;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        s[i] = (char)(z ^ (z >> 31));
    }
    return s;
}

std::string hex64(const uint8_t* d)
{
    return to_hex(d, 64);
}

DigestRun digest_path(const std::wstring& path, BlockTransformFn transform, int64_t size)
{
    ensure_tables();
    DigestRun run = {};
    HANDLE file = open_for_digest(path);
    if (file == INVALID_HANDLE_VALUE) return run;
    if (size < 0) {
        LARGE_INTEGER li;
        GetFileSizeEx(file, &li);
        size = li.QuadPart;
    }
    HANDLE gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    std::atomic<uint64_t> counter{0};
    alignas(16) uint8_t digest[64];
    BlockTransformFn saved = BlockTransform;
    BlockTransform = transform;
    run.complete = digest_file(file, size, digest, gate, &counter);
    BlockTransform = saved;
    memcpy(run.digest, digest, 64);
    run.counter_added = counter.load();
    CloseHandle(gate);
    CloseHandle(file);
    return run;
}
