// The scale and fault tests work on the NTFS volume only; without it they are
// reported as skipped, not run on another file system.
#include <gtest/gtest.h>
#include "test_env.h"

int main(int argc, char** argv)
{
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
