// The recovery layer against independent truths: MD5 and CRC-32 against
// their published vectors, the input constants against those the format
// lists, and everything else against par2cmdline: a set it makes from
// random files must be the set Kestrin makes from them (same set ID, same
// slice checksums, recovery data byte for byte, with each multiply form and
// in several passes), par2 must verify Kestrin's set, and slices taken away
// from a par2 set must come back as the files' own bytes. A choice of
// recovery slices that is singular is passed over, and a set too short of
// them is reported short, not solved.
#include "oracle.h"
#include "test_env.h"
#include "recovery/combine.h"
#include "recovery/crc32.h"
#include "recovery/gf16.h"
#include "recovery/md5.h"
#include "recovery/par2_set.h"
#include "recovery/region.h"
#include "recovery/set_rebuild.h"
#include "recovery/set_write.h"
#include "recovery/solver.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <random>
#include <string.h>

namespace {

std::string md5_hex(const std::string& s)
{
    uint8_t d[16];
    md5_of(s.data(), s.size(), d);
    return to_hex(d, 16);
}

TEST(RecoveryVectors, Md5Crc32AndTheInputConstants)
{
    // RFC 1321, appendix A.5.
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(md5_hex("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(md5_hex("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    std::string digits;
    for (int i = 0; i < 8; ++i)
        digits += "1234567890";
    EXPECT_EQ(md5_hex(digits), "57edf4a22be3c955ac49da2e2107b67a");
    // Fed in uneven pieces, the same.
    Md5 m;
    md5_begin(&m);
    for (size_t i = 0; i < digits.size(); i += 7)
        md5_add(&m, digits.data() + i, digits.size() - i < 7 ? digits.size() - i : 7);
    uint8_t d[16];
    md5_end(&m, d);
    EXPECT_EQ(to_hex(d, 16), "57edf4a22be3c955ac49da2e2107b67a");

    EXPECT_EQ(crc32_add(0, "123456789", 9), 0xCBF43926u);
    EXPECT_EQ(crc32_add(crc32_add(0, "1234", 4), "56789", 5), 0xCBF43926u);

    const uint16_t listed[] = {2, 4, 16, 128, 256, 2048, 8192, 16384, 4107, 32856, 17132};
    for (uint32_t i = 0; i < sizeof listed / sizeof listed[0]; ++i)
        EXPECT_EQ(input_factor(i, 1), listed[i]) << "constant " << i;
}

// A folder of random files under the build folder, and par2 run there.
struct Folder {
    std::wstring win;
    std::string lin;
    explicit Folder(const char* name)
    {
        win = build_dir() + L"\\recovery-" + widen(name);
        lin = to_linux_path(win);
        linux_sh("rm -rf " + sh_quote(lin) + " && mkdir -p " + sh_quote(lin));
    }
    std::string make(const std::string& name, size_t size, std::mt19937& rng)
    {
        std::string data(size, '\0');
        for (auto& c : data)
            c = (char)(rng() & 0xFF);
        write_file(win + L"\\" + widen(name), data);
        return data;
    }
    int sh(const std::string& command)
    {
        int st = -1;
        linux_sh("cd " + sh_quote(lin) + " && " + command, &st, 300000);
        return st;
    }
};

std::vector<std::wstring> set_paths(const Folder& f, const std::string& pattern)
{
    int st = -1;
    std::string out = linux_sh("cd " + sh_quote(f.lin) + " && ls " + pattern, &st);
    std::vector<std::wstring> paths;
    size_t at = 0;
    while (at < out.size()) {
        size_t nl = out.find('\n', at);
        std::string name = out.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        if (!name.empty())
            paths.push_back(f.win + L"\\" + widen(name));
        if (nl == std::string::npos)
            break;
        at = nl + 1;
    }
    // The index file first.
    std::sort(paths.begin(), paths.end(), [](const std::wstring& a, const std::wstring& b) {
        bool ia = a.find(L".vol") == std::wstring::npos, ib = b.find(L".vol") == std::wstring::npos;
        return ia != ib ? ia : a < b;
    });
    return paths;
}

bool load(const std::vector<std::wstring>& paths, Par2Set* set)
{
    std::vector<const wchar_t*> p;
    for (auto& s : paths)
        p.push_back(s.c_str());
    return read_set(p.data(), (int)p.size(), set) == SetReadOk;
}

std::string recovery_data(const Par2Set* set, uint32_t i)
{
    std::wstring path = set->par_files[set->recovery[i].par_file];
    std::string all = read_file(path);
    return all.substr((size_t)set->recovery[i].data_offset, (size_t)set->slice_size);
}

struct Inputs {
    std::vector<std::string> names;
    std::vector<std::wstring> paths;
    std::vector<SetInput> list;
    void add(const Folder& f, const std::string& name, size_t size)
    {
        names.push_back(name);
        paths.push_back(f.win + L"\\" + widen(name));
        (void)size;
    }
    void finish(const std::vector<size_t>& sizes)
    {
        list.clear();
        for (size_t i = 0; i < names.size(); ++i)
            list.push_back({paths[i].c_str(), names[i].c_str(), names[i].size(), sizes[i]});
    }
};

TEST(RecoverySets, MadeAsPar2MakesThemAndVerifiedByIt)
{
    const uint32_t seed = (uint32_t)GetTickCount();
    printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    Folder f("make");
    // A file shorter than a slice, one an exact multiple, a one-byte file,
    // and a larger one with a short last slice.
    const uint64_t slice = 4096;
    std::vector<size_t> sizes = {1000, 4 * 4096, 1, 150000 + rng() % 5000};
    Inputs in;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::string name = "f" + std::to_string(i) + ".bin";
        f.make(name, sizes[i], rng);
        in.add(f, name, sizes[i]);
    }
    in.finish(sizes);
    ASSERT_EQ(f.sh("par2 c -q -q -s4096 -c7 p.par2 f0.bin f1.bin f2.bin f3.bin"), 0);
    Par2Set theirs;
    ASSERT_TRUE(load(set_paths(f, "p*.par2"), &theirs));
    ASSERT_EQ(theirs.recovery_count, 7u);

    for (int kernel = 0; kernel < KernelCount; ++kernel) {
        if (!region_kernel_available((RegionKernel)kernel))
            continue;
        recovery_start(kernel);
        // Whole slices in one pass, and in passes of 64 bytes.
        for (size_t memory : {(size_t)0, (size_t)(64 * (7 + kRegionMaxSources))}) {
            SCOPED_TRACE(std::string(g_region->name) + (memory ? " in passes" : " in one pass"));
            f.sh("rm -f k.*par2");
            SetOptions opt = {slice, 7, "Kestrin test", nullptr, nullptr, memory};
            SetFiles files;
            int failed = -1;
            ASSERT_EQ(write_set((f.win + L"\\k").c_str(), in.list.data(), (int)in.list.size(), &opt, &files, &failed),
                      SetWritten);
            EXPECT_EQ(files.passes > 1, memory != 0);
            ASSERT_TRUE(commit_set(&files));
            free_set_files(&files);
            Par2Set ours;
            ASSERT_TRUE(load(set_paths(f, "k*.par2"), &ours));
            EXPECT_EQ(to_hex(ours.set_id, 16), to_hex(theirs.set_id, 16));
            ASSERT_EQ(ours.file_count, theirs.file_count);
            for (uint32_t i = 0; i < ours.file_count; ++i) {
                EXPECT_EQ(to_hex(ours.files[i].md5, 16), to_hex(theirs.files[i].md5, 16));
                EXPECT_EQ(to_hex(ours.files[i].checksums, 20 * ours.files[i].slice_count),
                          to_hex(theirs.files[i].checksums, 20 * theirs.files[i].slice_count));
            }
            ASSERT_EQ(ours.recovery_count, 7u);
            for (uint32_t i = 0; i < 7; ++i) {
                EXPECT_EQ(ours.recovery[i].exponent, theirs.recovery[i].exponent);
                EXPECT_TRUE(recovery_data(&ours, i) == recovery_data(&theirs, i)) << "recovery slice " << i;
            }
            free_set(&ours);
            EXPECT_EQ(f.sh("par2 v -q -q k.par2"), 0);
        }
    }
    free_set(&theirs);
    recovery_start();
}

// Receives rebuilt parts into the slices' images.
struct Images {
    std::map<uint32_t, std::string> slices;
    uint64_t slice;
};
bool take_part(void* context, uint32_t slice, uint64_t offset, const uint8_t* data, size_t len)
{
    Images* im = (Images*)context;
    std::string& s = im->slices[slice];
    s.resize((size_t)im->slice);
    memcpy(&s[(size_t)offset], data, len);
    return true;
}

// What slice `i` of the set's data holds (zero-padded).
std::string slice_of(const std::vector<std::string>& data_in_set_order, const Par2Set* set, uint32_t i)
{
    for (uint32_t f = 0; f < set->file_count; ++f) {
        const SetFile* sf = &set->files[f];
        if (i >= sf->first_slice && i < sf->first_slice + sf->slice_count) {
            std::string s = data_in_set_order[f].substr((size_t)((i - sf->first_slice) * set->slice_size),
                                                        (size_t)set->slice_size);
            s.resize((size_t)set->slice_size);
            return s;
        }
    }
    return {};
}

TEST(RecoverySets, MissingSlicesOfAPar2SetRebuiltAndASingularChoicePassedOver)
{
    const uint32_t seed = (uint32_t)GetTickCount() ^ 0x5A5A;
    printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    Folder f("rebuild");
    // 64-byte slices: one file of 200, one of 33 and a bit.
    std::map<std::string, std::string> data;
    data["a.bin"] = f.make("a.bin", 64 * 200, rng);
    data["b.bin"] = f.make("b.bin", 64 * 33 + 10, rng);
    ASSERT_EQ(f.sh("par2 c -q -q -s64 -c12 s.par2 a.bin b.bin"), 0);
    // Exponent 257 beside 0 (from the same files: the same set).
    ASSERT_EQ(f.sh("par2 c -q -q -s64 -c1 -f257 t.par2 a.bin b.bin && mv t.vol257+1.par2 s.vol257+1.par2"), 0);
    Par2Set set;
    ASSERT_TRUE(load(set_paths(f, "s*.par2"), &set));
    ASSERT_EQ(set.recovery_count, 13u);
    std::vector<std::string> in_order;
    std::vector<std::wstring> paths;
    for (uint32_t i = 0; i < set.file_count; ++i) {
        in_order.push_back(data[set.files[i].name]);
        paths.push_back(f.win + L"\\" + widen(set.files[i].name));
    }
    std::vector<const wchar_t*> path_ptrs;
    for (auto& p : paths)
        path_ptrs.push_back(p.c_str());

    for (int kernel = 0; kernel < KernelCount; ++kernel) {
        if (!region_kernel_available((RegionKernel)kernel))
            continue;
        recovery_start(kernel);
        SCOPED_TRACE(g_region->name);
        // Up to 12 random slices missing, from the 12 exponents 0..11.
        for (int trial = 0; trial < 3; ++trial) {
            int m = 1 + (int)(rng() % 12);
            std::vector<uint8_t> present(set.slice_count, 1);
            std::vector<uint32_t> missing;
            while ((int)missing.size() < m) {
                uint32_t s = rng() % set.slice_count;
                if (present[s]) {
                    present[s] = 0;
                    missing.push_back(s);
                }
            }
            std::vector<uint32_t> exps;
            for (uint32_t e = 0; e < 12; ++e)
                exps.push_back(e);
            Solution sol;
            ASSERT_EQ(solve_missing(missing.data(), m, exps.data(), 12, &sol), Solved);
            Images im;
            im.slice = set.slice_size;
            RebuildInput ri = {&set, path_ptrs.data(), present.data(), missing.data(), &sol, nullptr, nullptr,
                               trial == 2 ? (size_t)64 * 40 : 0};
            ASSERT_EQ(rebuild_slices(&ri, take_part, &im), Rebuilt);
            for (uint32_t s : missing)
                EXPECT_TRUE(im.slices[s] == slice_of(in_order, &set, s)) << "slice " << s << " of " << m;
            solution_free(&sol);
        }
        // Constants 2^1 and 2^256 are equal raised to 257 (their quotient
        // has order 257): rows for exponents 0 and 257 are singular over
        // the slices with those constants.
        uint32_t first = 0, second = 0;
        for (uint32_t i = 0, n = 0; i < set.slice_count; ++i) {
            do
                ++n;
            while (n % 3 == 0 || n % 5 == 0 || n % 17 == 0 || n % 257 == 0);
            if (n == 1)
                first = i;
            if (n == 256)
                second = i;
        }
        ASSERT_GT(second, 0u);
        uint32_t pair[2] = {first, second};
        uint32_t only[2] = {0, 257};
        Solution sol;
        EXPECT_EQ(solve_missing(pair, 2, only, 2, &sol), Unsolvable);
        EXPECT_EQ(sol.short_by, 1);
        uint32_t more[3] = {0, 257, 5};
        ASSERT_EQ(solve_missing(pair, 2, more, 3, &sol), Solved);
        EXPECT_EQ(sol.exponents[0], 0u);
        EXPECT_EQ(sol.exponents[1], 5u);
        std::vector<uint8_t> present(set.slice_count, 1);
        present[first] = present[second] = 0;
        Images im;
        im.slice = set.slice_size;
        RebuildInput ri = {&set, path_ptrs.data(), present.data(), pair, &sol, nullptr, nullptr, 0};
        ASSERT_EQ(rebuild_slices(&ri, take_part, &im), Rebuilt);
        EXPECT_TRUE(im.slices[first] == slice_of(in_order, &set, first));
        EXPECT_TRUE(im.slices[second] == slice_of(in_order, &set, second));
        solution_free(&sol);
        // Thirteen missing from twelve usable: one short.
        std::vector<uint32_t> many;
        for (uint32_t i = 0; i < 13; ++i)
            many.push_back(i * 3);
        uint32_t all[12];
        for (uint32_t e = 0; e < 12; ++e)
            all[e] = e;
        EXPECT_EQ(solve_missing(many.data(), 13, all, 12, &sol), Unsolvable);
        EXPECT_EQ(sol.short_by, 1);
    }
    free_set(&set);
    recovery_start();
}

}  // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    int st = -1;
    linux_sh("command -v par2", &st);
    if (st != 0)
        return skip_program("par2 (par2cmdline) is not installed");
    recovery_start();
    return RUN_ALL_TESTS();
}
