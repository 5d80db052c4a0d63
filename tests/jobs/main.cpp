// The jobs tests need the NTFS volume (true alternate data streams) and a
// window station; without the volume the program reports itself skipped.
#include "harness.h"
#include "test_env.h"
#include "engine/digest.h"
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (ntfs_root().empty())
        return skip_program("the NTFS test volume is not mounted (no FUSE or ntfs-3g)");
    build_digest_tables();  // as start-up does, before any job runs
    harness_create();
    return RUN_ALL_TESTS();
}
