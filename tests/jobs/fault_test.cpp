// A listing that fails half-way in the window's Check (the walk's
// enumeration call made to fail): a folder passed over, never "all good".
#include "failing_listing.h"
#include "harness.h"
#include "oracle.h"
#include "test_env.h"
#include "jobs/jobs.h"
#include "jobs/targets.h"
#include <gtest/gtest.h>

class ListingFaultTest : public JobsTest {
protected:
    void SetUp() override
    {
        JobsTest::SetUp();
        failing_listing_install();
        for (int i = 0; i < 6; ++i)
            linux_store_digest(make((L"f" + std::to_wstring(i) + L".bin").c_str(), std::string(100 + i, 'x')));
    }
    void TearDown() override { failing_listing_remove(); }
    bool check_in_window()
    {
        lstrcpyW(g_run.PathBuffer, (L"\"" + dir + L"\"").c_str());
        return parse_targets() == 0 && run_job(Check, ScanJob, nullptr);
    }
};

// A listing that breaks off is a folder passed over, not the end of the
// folder: the Check is not all good.
TEST_F(ListingFaultTest, ListingThatFailsHalfWayIsASkippedFolder)
{
    ASSERT_TRUE(check_in_window());
    ASSERT_EQ(L"All files checked successfully.", status_text()) << "every file carries its digest";

    g_failing_listing.fail_at = 3;
    harness_reset();
    ASSERT_TRUE(check_in_window());
    EXPECT_EQ(L"Ready.", status_text());
    EXPECT_EQ(1, g_run.skipped_folders);
    EXPECT_EQ(std::vector<std::wstring>{}, items(g_run.without_list));
}
