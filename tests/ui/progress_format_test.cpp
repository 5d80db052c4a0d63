// The status-bar texts of a progress tick, from the counters and clocks alone.
// Every expectation is worked out by hand: each 64-bit quantity is first
// rounded to single precision, then multiplied and divided at double precision.
#include "ui/progress.h"
#include <gtest/gtest.h>
#include <string>

namespace {

constexpr uint64_t kSecond = 10000000;                   // system-time units
constexpr uint64_t kStart = 133000000000000000ull;       // an ordinary system time

struct Texts {
    std::wstring percent, rate, remaining;
};

Texts format_all(const ProgressSample& s)
{
    wchar_t text[kStatusTextChars];
    Texts t;
    format_progress_part(0, s, text);
    t.percent = text;
    format_progress_part(1, s, text);
    t.rate = text;
    format_progress_part(2, s, text);
    t.remaining = text;
    return t;
}

ProgressSample sample(uint64_t done, uint64_t total, uint64_t now, uint64_t start,
                      uint64_t tick_time, uint64_t tick_done)
{
    return ProgressSample{done, total, now, start, tick_time, tick_done};
}

TEST(ProgressText, FirstTickShowsTheSameCurrentAndAverageRate)
{
    // 50 MB of 200 MB after one second: 25 %, 50 MB/s both ways, and 150 MB
    // left at that pace is 3 s.
    Texts t = format_all(sample(50000000, 200000000, kStart + kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"    25.0 %", t.percent);
    EXPECT_EQ(L"   50.0 MB/s  (Average:  50.0 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:00:03", t.remaining);
}

TEST(ProgressText, MidJobTickSeparatesCurrentFromAverage)
{
    // D = 123,456,789 rounds to 123,456,792 in single precision: 12.35 %.
    // Current: 3,456,789 bytes in the last second -> 3.46 MB/s.
    // Average: 123,456,792 x 10 / 420,000,000 -> 2.94 MB/s.
    // Remaining: 876,543,211 rounds to 876,543,232; 42 s x 876,543,232 /
    // 123,456,792 = 298.2 s -> 00:04:58.
    Texts t = format_all(sample(123456789, 1000000000, kStart + 42 * kSecond, kStart,
                                kStart + 41 * kSecond, 120000000));
    EXPECT_EQ(L"    12.3 %", t.percent);
    EXPECT_EQ(L"    3.5 MB/s  (Average:   2.9 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:04:58", t.remaining);
}

TEST(ProgressText, NoTimeElapsedShowsZeroRatesAndNoRemainingTime)
{
    Texts t = format_all(sample(1000, 4000, kStart, kStart, kStart, 0));
    EXPECT_EQ(L"    25.0 %", t.percent);
    EXPECT_EQ(L"    0.0 MB/s  (Average:   0.0 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:00:00", t.remaining);
}

TEST(ProgressText, AllDoneShowsOneHundredPercentAndNothingRemaining)
{
    // 500 MB in 100 s is 5 MB/s on average; the last second brought 10 MB.
    Texts t = format_all(sample(500000000, 500000000, kStart + 100 * kSecond, kStart,
                                kStart + 99 * kSecond, 490000000));
    EXPECT_EQ(L"   100.0 %", t.percent);
    EXPECT_EQ(L"   10.0 MB/s  (Average:   5.0 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:00:00", t.remaining);
}

TEST(ProgressText, FilesThatGrewShowOverOneHundredPercentAndNoEstimate)
{
    // 1.5 MB read of 1 MB counted: 150 %. What is left wraps to 2^64 - 500,000,
    // which makes an estimate of about 2.5e13 s: beyond 32 bits, so 00:00:00.
    Texts t = format_all(sample(1500000, 1000000, kStart + 2 * kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"   150.0 %", t.percent);
    EXPECT_EQ(L"    0.8 MB/s  (Average:   0.8 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:00:00", t.remaining);
}

TEST(ProgressText, HoursAreNotLimitedToTwoDigits)
{
    // Elapsed 36,012,300,000 units rounds to 36,012,298,240 in single
    // precision; x 100,000,000 left / 1,000,000 done / 10^7 = 360,122.98 s,
    // that is 100 h 2 min 2 s (at full precision it would be 2 min 3 s).
    const uint64_t elapsed = 36012300000ull;
    Texts t = format_all(sample(1000000, 101000000, kStart + elapsed, kStart,
                                kStart + elapsed - kSecond, 999000));
    EXPECT_EQ(L"     1.0 %", t.percent);
    EXPECT_EQ(L"  Remaining: 100:02:02", t.remaining);
}

TEST(ProgressText, EstimateAtTheEdgeOfThirtyTwoBits)
{
    // One byte per second done, 2^31 - 128 bytes left: 2,147,483,520 s, the
    // largest estimate that fits, is 596,523 h 12 min 0 s.
    Texts fits = format_all(sample(1, 1 + 2147483520ull, kStart + kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"  Remaining: 596523:12:00", fits.remaining);

    // 2^31 s no longer fits a signed 32-bit count: 00:00:00.
    Texts over = format_all(sample(1, 1 + 2147483648ull, kStart + kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"  Remaining: 00:00:00", over.remaining);

    // Far beyond: 2^40 s.
    Texts far = format_all(sample(1, 1ull << 40, kStart + kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"  Remaining: 00:00:00", far.remaining);
    EXPECT_EQ(0, remaining_seconds(sample(1, 1ull << 40, kStart + kSecond, kStart, kStart, 0)));
}

TEST(ProgressText, ZeroTotalShowsOneHundredPercentNeverInfinity)
{
    // Data arrived although the size pass counted none.
    Texts t = format_all(sample(5000, 0, kStart + kSecond, kStart, kStart, 0));
    EXPECT_EQ(L"   100.0 %", t.percent);
    EXPECT_EQ(L"    0.0 MB/s  (Average:   0.0 MB/s)", t.rate);
    EXPECT_EQ(L"  Remaining: 00:00:00", t.remaining);
}

TEST(ProgressText, PauseShiftOfBothClocksLeavesThePauseOut)
{
    // 10 s of work, a pause of one hour, one more second: Resume moved both
    // clocks forward by the hour, so the tick sees an 11 s job: 110 MB in
    // 11 s is 10 MB/s, the last second brought 10 MB, and 110 MB left at
    // that pace is 11 s.
    const uint64_t pause = 3600 * kSecond;
    Texts shifted = format_all(sample(110000000, 220000000, kStart + pause + 11 * kSecond,
                                      kStart + pause, kStart + pause + 10 * kSecond, 100000000));
    EXPECT_EQ(L"    50.0 %", shifted.percent);
    EXPECT_EQ(L"   10.0 MB/s  (Average:  10.0 MB/s)", shifted.rate);
    EXPECT_EQ(L"  Remaining: 00:00:11", shifted.remaining);

    // Had the clocks stayed, the hour would show in every figure.
    Texts unshifted = format_all(sample(110000000, 220000000, kStart + pause + 11 * kSecond,
                                        kStart, kStart + 10 * kSecond, 100000000));
    EXPECT_EQ(L"    0.0 MB/s  (Average:   0.0 MB/s)", unshifted.rate);
    EXPECT_EQ(L"  Remaining: 01:00:11", unshifted.remaining);
}

TEST(ProgressText, LongTextIsCutAtFiftyNineCharacters)
{
    // 2^53 bytes in one time unit: 90,071,992,547,409,920 MB/s both ways. The
    // full text has 60 characters; the 60th unit of the buffer becomes the
    // terminator, and nothing is written past the buffer.
    wchar_t buffer[kStatusTextChars + 8];
    for (wchar_t& c : buffer)
        c = L'#';
    ProgressSample s = sample(1ull << 53, 1, kStart + 1, kStart, kStart, 0);
    format_progress_part(1, s, buffer);
    EXPECT_EQ(L"90071992547409920.0 MB/s  (Average:90071992547409920.0 MB/s", std::wstring(buffer));
    for (int i = kStatusTextChars; i < kStatusTextChars + 8; ++i)
        EXPECT_EQ(L'#', buffer[i]) << "unit " << i << " past the buffer was written";

    format_progress_part(0, s, buffer);
    EXPECT_EQ(L"900719925474099200.0 %", std::wstring(buffer));
}

}  // namespace
