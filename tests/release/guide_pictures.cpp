// The pictures of the user guide, taken of the real Kestrin.exe: a folder of
// photos on the NTFS volume, seen by Wine as D:\Photos (as a user's photo
// drive would be), is driven into the three states the guide shows. Each
// picture is taken only after the window has been seen in that state, and
// the state is checked against Linux's view of the files.
//
// The pictures land in <build>/screenshots/guide_*.png; docs/ holds the
// copies the guide and the README show.
#include <gtest/gtest.h>
#include <algorithm>
#include <stdlib.h>
#include <wctype.h>
#include "driver.h"
#include "oracle.h"
#include "test_env.h"
#include "sizing.h"
#include "volume.h"
#include "res/resource.h"

namespace {

std::string show(const std::vector<std::wstring>& v)
{
    std::string s = "[";
    for (auto& x : v) s += "\n  " + narrow(x);
    return s + "]";
}

// A picture of the main window together with the box in front of it.
std::string picture_with_box(const char* name, HWND dlg, HWND box)
{
    RECT a, b, u;
    GetWindowRect(dlg, &a);
    GetWindowRect(box, &b);
    UnionRect(&u, &a, &b);
    std::string out = to_linux_path(build_dir()) + "/screenshots/" + name + ".png";
    char crop[96];
    snprintf(crop, sizeof crop, "%ldx%ld+%ld+%ld", u.right - u.left, u.bottom - u.top, u.left < 0 ? 0 : u.left,
             u.top < 0 ? 0 : u.top);
    int st = -1;
    linux_sh("mkdir -p " + sh_quote(to_linux_path(build_dir()) + "/screenshots") + " && import -window root -crop " +
                 crop + " +repage " + sh_quote(out),
             &st, 30000);
    return st == 0 ? out : std::string();
}

class GuidePictures : public ::testing::Test {
protected:
    Kestrin k;
    void TearDown() override { kestrin_kill(k); }
};

TEST_F(GuidePictures, CheckWithAlteredFilesCreateInProgressAndTheHashBox)
{
    std::wstring root = ntfs_scratch("guide");
    // Big enough that hashing it takes several seconds, so that a Create is
    // caught with its figures showing; sparse, so it costs no room.
    const long long video_bytes = bytes_lasting(6);
    ASSERT_TRUE(linux_in(root,
                         "mkdir -p Photos/2023 Photos/2024/video && cd Photos && "
                         "head -c 412000 /dev/urandom > 2023/beach.jpg && "
                         "head -c 388000 /dev/urandom > 2023/harbour.jpg && "
                         "head -c 501000 /dev/urandom > 2024/garden.jpg && "
                         "head -c 276000 /dev/urandom > 2024/kestrel.jpg && "
                         "head -c 190000 /dev/urandom > 2024/scan.png && "
                         "truncate -s " + std::to_string(video_bytes) + " 2024/video/holiday.mp4"));
    ASSERT_TRUE(linux_store_digests(root + L"\\Photos",
                                    {"2023/beach.jpg", "2023/harbour.jpg", "2024/garden.jpg", "2024/kestrel.jpg"}));
    // Two photos change silently: bytes flipped, last-write time put back.
    ASSERT_TRUE(linux_in(root + L"\\Photos",
                         "for f in 2023/harbour.jpg 2024/kestrel.jpg; do t=$(stat -c %y \"$f\"); "
                         "printf 'XY' | dd of=\"$f\" bs=1 seek=5000 conv=notrunc 2>/dev/null && touch -d \"$t\" \"$f\" "
                         "|| exit 1; done"));
    auto truth = linux_report(root + L"\\Photos");
    ASSERT_EQ(6u, truth.size());
    std::vector<std::wstring> altered, without;
    for (auto& kv : truth) {
        std::wstring on_d = L"D:\\Photos" + kv.first.substr((root + L"\\Photos").size());
        if (kv.second.stream_size < 0) without.push_back(on_d);
        else if (kv.second.stream_hex != kv.second.whirlpool_hex) altered.push_back(on_d);
    }
    ASSERT_EQ(2u, altered.size()) << "Linux sees two photos whose digest no longer matches";
    ASSERT_EQ(2u, without.size()) << "and two files without a digest";

    WineDriveD d(root);
    ASSERT_TRUE(d.ok && GetFileAttributesW(L"D:\\Photos") != INVALID_FILE_ATTRIBUTES)
        << "Wine's drive D: could not be pointed at the test folder";
    ASSERT_TRUE(kestrin_start(k, L"D:\\Photos"));

    // 1. After a Check: the two altered photos listed, the status line's summary.
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_START));
    ASSERT_TRUE(wait_job_end(k, 60000)) << narrow(control_text(k, IDC_STATUS_LINE));
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    ASSERT_EQ(sorted(altered), sorted(list_items(k, IDC_ALTERED_LIST))) << show(list_items(k, IDC_ALTERED_LIST));
    ASSERT_EQ(sorted(without), sorted(list_items(k, IDC_WITHOUT_LIST))) << show(list_items(k, IDC_WITHOUT_LIST));
    ASSERT_TRUE(control_visible(k, IDC_ALTERED_LIST));
    ASSERT_TRUE(control_enabled(k, IDC_REWRITE) && control_enabled(k, IDC_CREATE));
    EXPECT_EQ(L"   100.0 %", status_part(k, 0)) << "the Check's last progress figure";
    EXPECT_FALSE(screenshot(k, "guide_check_altered").empty());

    // 2. During Create Hashes, while the video is hashed: the figures showing.
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_CREATE));
    std::wstring video = L"D:\\Photos\\2024\\video\\holiday.mp4";
    auto in_progress = [&] {
        std::wstring pct = status_part(k, 0), rate = status_part(k, 1), left = status_part(k, 2);
        return control_text(k, IDC_START) == L"Pause" && control_text(k, IDC_STATUS_LINE) == video &&
               pct.size() > 2 && pct.substr(pct.size() - 2) == L" %" && pct != L"   100.0 %" && pct != L"     0.0 %" &&
               rate.find(L" MB/s  (Average:") != std::wstring::npos && left.find(L"  Remaining: ") == 0;
    };
    ASSERT_TRUE(wait_until(in_progress, 60000))
        << "Create never showed its figures: " << narrow(control_text(k, IDC_STATUS_LINE)) << " | "
        << narrow(status_part(k, 0)) << " | " << narrow(status_part(k, 1)) << " | " << narrow(status_part(k, 2));
    // One tick later, so that the current rate has been measured over a second.
    Sleep(1200);
    ASSERT_TRUE(in_progress()) << "Create ended too soon for its picture";
    std::string shot = screenshot(k, "guide_create_progress");
    EXPECT_TRUE(in_progress()) << "the Create ended while its picture was taken";
    EXPECT_FALSE(shot.empty());
    ASSERT_TRUE(wait_job_end(k, 180000)) << "Create did not end";
    EXPECT_EQ(L"Ready.", control_text(k, IDC_STATUS_LINE));
    auto created = linux_report(root + L"\\Photos");
    for (auto& kv : created) {
        if (kv.first.find(L"holiday") == std::wstring::npos && kv.first.find(L"scan") == std::wstring::npos) continue;
        EXPECT_EQ(64, kv.second.stream_size) << narrow(kv.first);
        EXPECT_EQ(kv.second.whirlpool_hex, kv.second.stream_hex) << narrow(kv.first);
    }

    // 3. The Hash box of a photo, from "Files with Hash:" after List Files.
    mark_status_line(k);
    ASSERT_TRUE(press(k, IDC_LIST));
    ASSERT_TRUE(wait_job_end(k, 60000));
    std::wstring photo = L"D:\\Photos\\2023\\beach.jpg";
    HWND box = open_digest_view(k, photo);
    ASSERT_TRUE(box) << "no \"Hash\" box after a double-click";
    std::string hex = linux_read_hex(to_linux_path(root) + "/Photos/2023/beach.jpg:z");
    ASSERT_EQ(128u, hex.size());
    std::wstring text = box_text(box);
    EXPECT_EQ(photo + L"\n\n" + digest_view_lines(hex), text) << "the Hash box against the stream Linux reads";
    Sleep(300);
    EXPECT_FALSE(picture_with_box("guide_hash_box", k.dlg, box).empty());
    answer(box, IDOK);
    EXPECT_TRUE(wait_until([&] { return other_dialogs(k).empty(); }, 5000));
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty()) return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    return RUN_ALL_TESTS();
}
