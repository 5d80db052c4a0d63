// What the engine tests observe from outside digest_file: its ReadFile and
// WaitForSingleObject calls (hooked in this program's import table), its
// compressions (a counting wrapper installed as BlockTransform), and the files
// it reads (written under the build folder, where Linux can read them too).
#pragma once
#include "engine/digest.h"
#include <string>
#include <vector>

struct EngineTrace {
    std::atomic<int> reads;         // ReadFile calls while tracing
    std::atomic<int> waits;         // WaitForSingleObject calls while tracing
    std::atomic<int> fail_next;     // this many coming reads fail without reading
    std::atomic<int> bad_reads;     // reads not of 65,536 bytes into ReadBuffer
    std::atomic<int> bad_waits;     // waits not on the expected gate with INFINITE
    std::atomic<int> read_without_wait;  // reads not directly preceded by a wait
    char order[256];                // 'W' and 'R' in call order (first 255)
    std::atomic<int> order_len;
    HANDLE expected_gate;
    // Compressions and where their operands pointed.
    std::atomic<int> compressions;
    std::atomic<int> blocks_outside_buffer;
    std::atomic<int> blocks_misaligned;
    std::atomic<int> state_elsewhere;
    std::atomic<const uint8_t*> last_block;
    const uint8_t* expected_state;
    // The thread whose calls are traced (start_trace: the calling thread).
    std::atomic<DWORD> thread_id;
    // Resets the gate right after the read with this number (1 = first); 0 never.
    int reset_gate_after_read;
};
extern EngineTrace g_trace;

// Installs the import-table hooks once; false when they cannot be placed.
bool install_engine_hooks();

// Starts tracing with `inner` as the real transform behind the counting
// wrapper; stop_trace puts `inner` back as BlockTransform.
void start_trace(BlockTransformFn inner, HANDLE gate, const uint8_t* digest);
void stop_trace();

// Tables built once for the whole program.
void ensure_tables();

// A file under <build>/engine-files with the given content (Windows path).
std::wstring engine_file(const std::string& name, const std::string& content);
std::string engine_files_linux_dir();

// Opens for reading as the jobs do, returns the handle (INVALID_HANDLE_VALUE on failure).
HANDLE open_for_digest(const std::wstring& path);

// Deterministic pseudo-random bytes.
std::string random_bytes(size_t n, uint64_t seed);

std::string hex64(const uint8_t* d);

struct DigestRun {
    bool complete;
    uint8_t digest[64];
    uint64_t counter_added;
};
// digest_file over the file at `path` with `transform` in BlockTransform,
// passing `size` (or the file's size when size is -1).
DigestRun digest_path(const std::wstring& path, BlockTransformFn transform, int64_t size = -1);
