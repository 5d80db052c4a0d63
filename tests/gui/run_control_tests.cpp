// Run control through the real window while jobs run on the NTFS volume:
// what may be pressed when, Pause and Resume, the field during a job, and
// Exit during a job, with Linux as the witness of what was read and written.
#include <gtest/gtest.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "sizing.h"
#include "volume.h"
#include "res/resource.h"

namespace {

const int kManyFiles = 2000;

struct Sample {
    std::wstring status;
    bool start_enabled, list_enabled, remove_enabled;
    std::wstring caption;
};

// Watches the window until the job ends, recording what a user would see.
std::vector<Sample> watch_job(const Kestrin& k, DWORD timeout_ms, const std::function<void(size_t)>& each = nullptr)
{
    std::vector<Sample> s;
    wait_until([&] {
        Sample x{control_text(k, IDC_STATUS_LINE), control_enabled(k, IDC_START), control_enabled(k, IDC_LIST),
                 control_enabled(k, IDC_REMOVE), control_text(k, IDC_START)};
        s.push_back(x);
        if (each) each(s.size());
        return !kestrin_running(k) || (is_summary(x.status) && x.start_enabled && x.caption == L"Start");
    }, timeout_ms);
    return s;
}

// Within the samples of one phase (`in_phase`), a button the phase must keep
// disabled: it was seen disabled, and never enabled before a later sample of
// the same phase that shows it disabled. (As a phase ends the job enables its
// buttons a moment before it changes the StatusLine; those last samples are
// not held against it.) Returns "" or what went wrong.
std::string held_disabled(const std::vector<Sample>& s, const std::function<bool(const Sample&)>& in_phase,
                          bool Sample::*button, const char* name)
{
    int last_disabled = -1, first_enabled = -1, seen = 0;
    for (int i = 0; i < (int)s.size(); ++i) {
        if (!in_phase(s[i])) continue;
        ++seen;
        if (!(s[i].*button)) last_disabled = i;
        else if (first_enabled < 0) first_enabled = i;
    }
    if (seen == 0) return std::string("the phase was never observed for ") + name;
    if (last_disabled < 0) return std::string(name) + " was enabled in all " + std::to_string(seen) + " samples";
    if (first_enabled >= 0 && first_enabled < last_disabled)
        return std::string(name) + " was enabled at sample " + std::to_string(first_enabled) +
               " and disabled again at sample " + std::to_string(last_disabled);
    return {};
}

class RunControl : public ::testing::Test {
protected:
    Kestrin k;
    static std::wstring many_dir, big_dir, big_file;
    static long long big_bytes;

    static void SetUpTestSuite()
    {
        many_dir = ntfs_scratch("many");
        linux_in(many_dir, "i=0; while [ $i -lt " + std::to_string(kManyFiles) + " ]; do : > f$i; i=$((i+1)); done");
        big_dir = ntfs_scratch("big");
        big_file = big_dir + L"\\big.bin";
        // A sparse file reads as zeros at full speed and takes no room on the volume;
        // its Check outlasts a progress tick, a pause of 2.5 s and an Exit asked.
        big_bytes = bytes_lasting(8);
        linux_in(big_dir, "truncate -s " + std::to_string(big_bytes) + " big.bin");
        linux_store_digests(big_dir, {"big.bin"});
    }

    void TearDown() override
    {
        if (HasFailure())
            screenshot(k, (std::string("run_failed_") +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name()).c_str());
        kestrin_kill(k);
    }
};
std::wstring RunControl::many_dir, RunControl::big_dir, RunControl::big_file;
long long RunControl::big_bytes = 0;

TEST_F(RunControl, PauseCannotBePressedDuringSizePassListOrRemove)
{
    ASSERT_EQ((long long)0, linux_file_size(to_linux_path(many_dir + L"\\f0")));
    ASSERT_TRUE(kestrin_start(k, L"\"" + many_dir + L"\""));

    // Check: during the size pass Start stays disabled.
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_START));
    DWORD t0 = GetTickCount();
    auto samples = watch_job(k, 120000);
    printf("Check over %d empty files without digest: %lu ms, %zu samples\n", kManyFiles, GetTickCount() - t0,
           samples.size());
    auto sizing = [](const Sample& x) { return x.status == L"Calculating total size..."; };
    EXPECT_EQ("", held_disabled(samples, sizing, &Sample::start_enabled, "Start during the size pass"))
        << samples.size() << " samples";
    ASSERT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    EXPECT_EQ((size_t)kManyFiles, list_items(k, IDC_WITHOUT_LIST).size());

    // List and Remove: Start never enabled while they run. The field is
    // emptied during the List: no button follows it while a job runs.
    for (int cmd : {IDC_LIST, IDC_REMOVE}) {
        SCOPED_TRACE(cmd == IDC_LIST ? "List Files" : "Remove Hashes");
        mark_status_line(k);
        ASSERT_TRUE(press(k, cmd));
        if (cmd == IDC_REMOVE) {
            HWND box = find_dialog(k, L"Remove Hashes", 10000);
            ASSERT_TRUE(box);
            answer(box, IDYES);
        }
        bool edited = false;
        DWORD t0 = GetTickCount();
        std::wstring text = control_text(k, IDC_PATH);
        auto samples = watch_job(k, 120000, [&](size_t n) {
            if (cmd == IDC_LIST && n == 3) {
                erase_path_field(k);
                type_text(k, L"x");
                erase_path_field(k);
                edited = control_text(k, IDC_PATH).empty() && kestrin_running(k) &&
                         !is_summary(control_text(k, IDC_STATUS_LINE));
            }
        });
        printf("%s over %d files: %lu ms, %zu samples\n", cmd == IDC_LIST ? "List" : "Remove", kManyFiles,
               GetTickCount() - t0, samples.size());
        auto running = [](const Sample& x) { return x.status == L"Processing..."; };
        EXPECT_EQ("", held_disabled(samples, running, &Sample::start_enabled, "Start (Pause)"));
        EXPECT_EQ("", held_disabled(samples, running, &Sample::list_enabled, "List Files"));
        EXPECT_EQ("", held_disabled(samples, running, &Sample::remove_enabled, "Remove Hashes"));
        EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
        if (cmd == IDC_LIST) {
            EXPECT_TRUE(edited) << "the field could not be edited while the List ran";
            // The job gives List and Remove back whatever the field holds.
            EXPECT_TRUE(control_enabled(k, IDC_LIST)) << "List Files after the job, field empty";
            EXPECT_TRUE(control_enabled(k, IDC_REMOVE)) << "Remove Hashes after the job, field empty";
            EXPECT_TRUE(control_enabled(k, IDC_START)) << "Start after the job";
            // The next change while Idle sets them by the text again.
            type_text(k, L"y");
            type_text(k, L"\b");
            EXPECT_FALSE(control_enabled(k, IDC_LIST)) << "List Files, field empty, Idle";
            EXPECT_FALSE(control_enabled(k, IDC_START)) << "Start, field empty, Idle";
            type_text(k, L"\"" + many_dir + L"\"");
        }
    }
}

TEST_F(RunControl, PausedCheckStopsReadingAndResumesToTheRightResult)
{
    std::string big_linux = to_linux_path(big_file);
    ASSERT_EQ(big_bytes, linux_file_size(big_linux));
    ASSERT_TRUE(kestrin_start(k, L"\"" + big_file + L"\""));

    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_until([&] { return control_text(k, IDC_START) == L"Pause" && control_enabled(k, IDC_START); },
                           30000))
        << "Start never became \"Pause\"; StatusLine " << narrow(control_text(k, IDC_STATUS_LINE));
    // Typing while the Check runs changes no button.
    erase_path_field(k);
    EXPECT_TRUE(control_enabled(k, IDC_START)) << "emptying the field during a Check must not disable Pause";
    EXPECT_FALSE(control_enabled(k, IDC_LIST)) << "List Files during a Check";
    type_text(k, L"q");
    EXPECT_FALSE(control_enabled(k, IDC_REMOVE)) << "Remove Hashes during a Check";

    // Pause once a tick has shown figures, so that a tick during the pause would change them.
    ASSERT_TRUE(wait_until([&] { return status_part(k, 1).find(L" MB/s") != std::wstring::npos; }, 20000))
        << "no progress tick before the pause";
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_until([&] { return control_text(k, IDC_START) == L"Resume"; }, 5000)) << "caption after Pause";
    EXPECT_TRUE(control_enabled(k, IDC_START));
    screenshot(k, "run_paused");

    // Reading stands still: Linux counts the bytes the Kestrin process reads.
    // The progress display stands still too: a timer still running would
    // show a current rate of 0 and a growing remaining time within a second.
    Sleep(300);
    long long r1 = linux_reader_rchar(big_linux);
    std::wstring shown1[3] = {status_part(k, 0), status_part(k, 1), status_part(k, 2)};
    Sleep(1500);
    long long r2 = linux_reader_rchar(big_linux);
    ASSERT_NE(-1, r1) << "no Linux process holds " << big_linux << " open during the Check";
    EXPECT_LE(r2 - r1, 2 * 65536) << "bytes read while paused (rchar " << r1 << " -> " << r2 << ")";
    printf("bytes read by Kestrin in 1.5 s of pause: %lld (rchar %lld -> %lld)\n", r2 - r1, r1, r2);
    EXPECT_FALSE(is_summary(control_text(k, IDC_STATUS_LINE))) << "the Check ended while paused";
    Sleep(1000);  // two and a half seconds in all: two ticks of a timer that was not stopped
    for (int part = 0; part < 3; ++part)
        EXPECT_EQ(shown1[part], status_part(k, part)) << "status-bar part " << part << " changed while paused";

    // Exit during the job asks; No keeps it.
    ASSERT_TRUE(press(k, IDC_EXIT));
    HWND box = find_dialog(k, L"Exit", 10000);
    ASSERT_TRUE(box) << "Exit during a job did not ask";
    EXPECT_EQ(L"Do you really want to abort the current action?", box_text(box));
    EXPECT_EQ(IDNO, default_button(box)) << "No is the default button";
    ASSERT_TRUE(answer(box, IDNO));
    ASSERT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
    Sleep(300);
    EXPECT_TRUE(kestrin_running(k)) << "No must keep the program running";
    EXPECT_EQ(L"Resume", control_text(k, IDC_START)) << "still paused after answering No";

    ASSERT_TRUE(press(k, IDC_START));
    EXPECT_TRUE(wait_until([&] { return control_text(k, IDC_START) != L"Resume"; }, 5000));
    EXPECT_TRUE(wait_until([&] { return linux_reader_rchar(big_linux) > r2 + 4 * 65536 || is_summary(control_text(k, IDC_STATUS_LINE)); }, 10000))
        << "reading did not go on after Resume";
    ASSERT_TRUE(wait_job_end(k, 120000)) << "Check did not end after Resume";
    EXPECT_EQ(L"All files checked successfully.", control_text(k, IDC_STATUS_LINE));
    EXPECT_TRUE(list_items(k, IDC_ALTERED_LIST).empty());
    EXPECT_TRUE(list_items(k, IDC_WITHOUT_LIST).empty());
    EXPECT_EQ(L"   100.0 %", status_part(k, 0)) << "final progress after the whole file";
    screenshot(k, "run_resumed_done");
}

// Exit confirmed while Create Hashes writes: the process ends with code 0 and
// every stream is either absent or a whole, correct digest.
TEST_F(RunControl, ExitDuringCreateNeverLeavesAHalfWrittenStream)
{
    std::wstring dir = ntfs_scratch("exitcreate");
    ASSERT_TRUE(linux_in(dir, "i=0; while [ $i -lt 60 ]; do head -c 1500000 /dev/urandom > f$i; i=$((i+1)); done"));
    auto before = linux_report(dir);
    ASSERT_EQ(60u, before.size());

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(linux_in(dir, "for f in f*; do rm -f \"$f:z\"; done"));
        ASSERT_TRUE(kestrin_start(k, L"\"" + dir + L"\""));
        mark_status_line(k);
        ASSERT_TRUE(press(k, IDC_START));
        ASSERT_TRUE(wait_job_end(k, 60000));
        ASSERT_EQ(60u, list_items(k, IDC_WITHOUT_LIST).size());

        ASSERT_TRUE(press(k, IDC_CREATE));
        ASSERT_TRUE(wait_until([&] { return list_items(k, IDC_WITHHASH_LIST).size() >= (size_t)(2 + 8 * round); },
                               60000));
        ASSERT_TRUE(press(k, IDC_EXIT));
        HWND box = find_dialog(k, L"Exit", 10000);
        ASSERT_TRUE(box) << "Exit during Create did not ask";
        ASSERT_TRUE(answer(box, IDYES));
        DWORD code = 0xDEADBEEF;
        ASSERT_TRUE(kestrin_wait_exit(k, 20000, &code)) << "process still runs after Yes";
        EXPECT_EQ(0u, code) << "exit code";
        kestrin_kill(k);

        auto after = linux_report(dir);
        int written = 0;
        for (auto& kv : after) {
            SCOPED_TRACE(narrow(kv.first));
            // A stream of 0 bytes is one that was created and never written.
            EXPECT_TRUE(kv.second.stream_size == -1 || kv.second.stream_size == 64)
                << "stream of " << kv.second.stream_size << " bytes";
            if (kv.second.stream_size == 64) {
                ++written;
                EXPECT_EQ(kv.second.whirlpool_hex, kv.second.stream_hex);
            }
            EXPECT_EQ(before[kv.first].sha256_hex, kv.second.sha256_hex) << "file data";
            EXPECT_EQ(before[kv.first].mtime_ns, kv.second.mtime_ns) << "last-write time";
        }
        EXPECT_GE(written, 2 + 8 * round) << "streams written before Exit";
        printf("round %d: %d of 60 digests written before Exit\n", round, written);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty()) return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    return RUN_ALL_TESTS();
}
