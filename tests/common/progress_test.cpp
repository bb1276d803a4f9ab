// The progress line: silence off a terminal, redraw pacing, clearing, and its text.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/progress.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

constexpr uint64_t MB = 1000 * 1000;
constexpr uint64_t CLUSTER = 32768;

// A memory stream whose contents the test reads back.
class Captured {
  public:
    Captured() : stream_(open_memstream(&data_, &size_)) {}
    ~Captured()
    {
        fclose(stream_);
        free(data_);
    }
    FILE *stream() { return stream_; }
    std::string text()
    {
        fflush(stream_);
        return std::string(data_, size_);
    }

  private:
    char *data_ = nullptr;
    size_t size_ = 0;
    FILE *stream_;
};

std::string format(uint64_t done, uint64_t total, double elapsed)
{
    char line[PROGRESS_LINE_SIZE];
    progress_format(line, sizeof line, done, total, elapsed);
    return line;
}

TEST(ProgressLine, NothingIsWrittenOffATerminalOrForOneCluster)
{
    Captured out;
    Progress progress;
    progress_start_on(&progress, 100 * MB, CLUSTER, out.stream(), false);
    EXPECT_FALSE(progress.active);
    for (uint64_t done = 0; done <= 100 * MB; done += 10 * MB)
        progress_update_at(&progress, done, progress.started + double(done) / MB);
    progress_finish(&progress);

    progress_start_on(&progress, CLUSTER, CLUSTER, out.stream(), true);
    EXPECT_FALSE(progress.active);
    progress_update_at(&progress, CLUSTER / 2, progress.started + 5);
    progress_finish(&progress);
    EXPECT_EQ(out.text(), "");
}

TEST(ProgressLine, RedrawsInPlaceAtMostFourTimesASecondAndClearsAtTheEnd)
{
    Captured out;
    Progress progress;
    progress_start_on(&progress, 100 * MB, CLUSTER, out.stream(), true);
    ASSERT_TRUE(progress.active);
    double t0 = progress.started;
    progress_update_at(&progress, 1 * MB, t0 + 0.01); // the first report is drawn at once
    std::string first = out.text();
    EXPECT_THAT(first, StartsWith("\r  1.0 MB of 100.0 MB    1%"));
    progress_update_at(&progress, 2 * MB, t0 + 0.1); // too soon
    progress_update_at(&progress, 3 * MB, t0 + 0.2);
    EXPECT_EQ(out.text(), first);
    progress_update_at(&progress, 50 * MB, t0 + 1.0);
    std::string second = out.text().substr(first.size());
    EXPECT_THAT(second, StartsWith("\r  50.0 MB of 100.0 MB   50%  50.0 MB/s  0:01 left"));
    // Bytes that complete the file are not drawn: the line is about to go.
    progress_update_at(&progress, 100 * MB, t0 + 2.0);
    EXPECT_EQ(out.text(), first + second);

    progress_finish(&progress);
    std::string clear = out.text().substr(first.size() + second.size());
    size_t width = second.size() - 1;
    EXPECT_EQ(clear, "\r" + std::string(width, ' ') + "\r");
    EXPECT_FALSE(progress.active);
    progress_finish(&progress); // a second finish writes nothing more
    EXPECT_EQ(out.text().size(), first.size() + second.size() + clear.size());
}

TEST(ProgressLine, AShorterLineCoversTheLongerOneBeforeIt)
{
    Captured out;
    Progress progress;
    progress_start_on(&progress, 100 * MB, CLUSTER, out.stream(), true);
    double t0 = progress.started;
    progress_update_at(&progress, 60 * MB, t0 + 0.6);
    std::string wide = out.text();
    EXPECT_EQ(wide, "\r  60.0 MB of 100.0 MB   60%  100.0 MB/s  0:00 left");
    progress_update_at(&progress, 61 * MB, t0 + 1.0);
    EXPECT_EQ(out.text().substr(wide.size()), "\r  61.0 MB of 100.0 MB   61%  61.0 MB/s  0:01 left ");
    progress_finish(&progress);
    EXPECT_EQ(out.text().substr(2 * wide.size()), "\r" + std::string(wide.size() - 1, ' ') + "\r");

    // The next file starts on a clean line.
    progress_start_on(&progress, 100 * MB, CLUSTER, out.stream(), true);
    EXPECT_EQ(progress.width, 0u);
}

TEST(ProgressLine, Text)
{
    EXPECT_EQ(format(0, 999, 0), "  0 B of 999 B    0%");
    EXPECT_EQ(format(512 * 1000, 2 * MB, 0.1), "  512.0 kB of 2.0 MB   25%");
    // Rate and time left once half a second has passed.
    EXPECT_EQ(format(3 * MB, 12 * MB, 0.5), "  3.0 MB of 12.0 MB   25%  6.0 MB/s  0:02 left");
    EXPECT_EQ(format(1 * MB, 4000 * MB, 1.0),
              "  1.0 MB of 4.0 GB    0%  1.0 MB/s  1:06:39 left");
    // A crawl is shown as at most 99:59:59 left.
    EXPECT_THAT(format(1, 5000 * MB, 1.0), HasSubstr("99:59:59 left"));
    // Sizes past a terabyte and the unit boundary rounding up into the next unit.
    EXPECT_EQ(format(999'960, 1'500'000'000'000, 0), "  1.0 MB of 1.5 TB    0%");
    // Nothing written past the buffer.
    char small[12];
    progress_format(small, sizeof small, 3 * MB, 12 * MB, 1.0);
    EXPECT_EQ(std::string(small), "  3.0 MB of");
}

// The lines of --progress-fd: one at the start, one per further hundredth or after a
// second, one at the end; names made single-line; a reader that goes away ends nothing.
TEST(ProgressFd, LinesForAFrontEnd)
{
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    fcntl(pipe_ends[0], F_SETFL, O_NONBLOCK);
    auto drain = [&] {
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<size_t>(n));
        return text;
    };
    progress_set_fd(pipe_ends[1]);
    Progress progress;
    progress_start_named(&progress, "get", "a\nb\x1B.ts", 1000, 10);
    double t0 = progress.started;
    progress_update_at(&progress, 5, t0 + 0.1);   // not a hundredth yet
    progress_update_at(&progress, 10, t0 + 0.2);  // 1%
    progress_update_at(&progress, 19, t0 + 0.3);  // still 1%
    progress_update_at(&progress, 19, t0 + 5);    // a second since the last line, more done
    progress_update_at(&progress, 19, t0 + 7);    // nothing more done: nothing to say
    progress_update_at(&progress, 25, t0 + 9);    // 2%
    progress_update_at(&progress, 26, t0 + 9.5);  // 2%, half a second later
    progress_update_at(&progress, 27, t0 + 10.6); // a second after the last line
    progress_finish(&progress);
    progress_finish(&progress);
    EXPECT_EQ(drain(), "get 0 1000 a?b?.ts\nget 10 1000 a?b?.ts\nget 19 1000 a?b?.ts\nget 25 1000 a?b?.ts\n"
                       "get 27 1000 a?b?.ts\n");
    // Finishing tells where the copy ended, once.
    progress_start_named(&progress, "copy", "5.av", 1000, 10);
    progress_update_at(&progress, 5, progress.started + 0.1);
    progress_finish(&progress);
    progress_finish(&progress);
    EXPECT_EQ(drain(), "copy 0 1000 5.av\ncopy 5 1000 5.av\n");
    progress_report("check", 0, 7, "disk.img");
    EXPECT_EQ(drain(), "check 0 7 disk.img\n");

    // The reader goes away: the copy goes on (SIGPIPE would end this test).
    close(pipe_ends[0]);
    progress_start_named(&progress, "put", "x.ts", 100, 10);
    progress_update(&progress, 100);
    progress_finish(&progress);
    progress_report("check", 7, 7, "disk.img");
    progress_set_fd(-1);
    close(pipe_ends[1]);
}

} // namespace
