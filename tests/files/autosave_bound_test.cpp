// The bounded writer queue: a sink held up by a job waiting on a latch (or a file nobody
// reads yet) refuses what does not fit, counts it, and loses or reorders nothing it took.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <latch>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "files/count_text.h"
#include "files/frame_autosaver.h"
#include "files/ordered_writer.h"

namespace ulvarin {
namespace {

constexpr size_t kChip = 65536;

// What the jobs ran, in order.
class RunLog {
public:
    OrderedWriter::Job Job(int id) {
        return [this, id] {
            std::lock_guard lock(mutex_);
            ids_.push_back(id);
        };
    }
    // A job that holds the writer until `release` counts down.
    OrderedWriter::Job JobAfter(std::latch& release, int id) {
        return [this, &release, job = Job(id)] {
            release.wait();
            job();
        };
    }
    std::vector<int> ids() {
        std::lock_guard lock(mutex_);
        return ids_;
    }

private:
    std::mutex mutex_;
    std::vector<int> ids_;
};

// Jobs posted while the writer is held up are refused once their bytes would pass the
// capacity; a job larger than the capacity goes in only when nothing else is pending.
TEST(OrderedWriterBound, ABlockedSinkRefusesWhatDoesNotFitAndRunsTheRestInOrder) {
    RunLog log;
    std::latch release(1);
    std::latch releaseLarge(1);
    {
        OrderedWriter writer(30);
        // The first job holds the writer until released; its bytes count while it runs.
        EXPECT_TRUE(writer.TryPost(log.JobAfter(release, 1), 10));
        EXPECT_TRUE(writer.TryPost(log.Job(2), 10));
        EXPECT_TRUE(writer.TryPost(log.Job(3), 10));
        EXPECT_FALSE(writer.TryPost(log.Job(4), 1));  // 30 pending: full
        writer.Post(log.Job(5));                      // jobs without bytes always go in
        EXPECT_FALSE(writer.TryPost(log.Job(6), 10));
        release.count_down();
        writer.WaitUntilIdle();
        EXPECT_EQ(log.ids(), (std::vector<int>{1, 2, 3, 5}));

        EXPECT_TRUE(writer.TryPost(log.JobAfter(releaseLarge, 7), 100));
        EXPECT_FALSE(writer.TryPost(log.Job(8), 1));
        releaseLarge.count_down();
        writer.WaitUntilIdle();
        // Once run, the jobs' bytes are free again.
        EXPECT_TRUE(writer.TryPost(log.Job(9), 30));
    }
    EXPECT_EQ(log.ids(), (std::vector<int>{1, 2, 3, 5, 7, 9}));
}

class AutosaveBoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::string Path(const std::string& name) const { return (folder / name).string(); }
    static std::string Text(std::span<const int32_t> counts) {
        std::string text;
        CountTextFormatter formatter;
        for (const std::span<const char> block : formatter.Format(counts))
            text.append(block.data(), block.size());
        return text;
    }
    static std::string FileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static std::vector<int32_t> Frame(int32_t base) {
        std::vector<int32_t> counts(kChip);
        for (size_t i = 0; i < counts.size(); ++i)
            counts[i] = base + static_cast<int32_t>(i % 1000);
        return counts;
    }

    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("ulvarin_autosave_bound_" + std::to_string(::getpid()));
};

// The first file is a pipe: the writer waits in it until the test reads, so the queue
// fills without any timing. Frames that find no room take no number, and the files
// written stay contiguous.
TEST_F(AutosaveBoundTest, FramesFindingTheQueueFullAreDroppedCountedAndTakeNoNumber) {
    ASSERT_EQ(::mkfifo(Path("run_0000.txt").c_str(), 0600), 0);
    const size_t frameBytes = kChip * sizeof(int32_t);
    FrameAutosaver saver(nullptr, 2 * frameBytes + frameBytes / 2);
    saver.name() = AutosaveTemplateFromName(Path("run_0000.txt"));

    std::vector<std::optional<std::string>> saved;
    for (int32_t frame = 0; frame < 4; ++frame) saved.push_back(saver.Save(Frame(frame * 1000)));
    const std::string piped = FileText(Path("run_0000.txt"));  // lets the writer go on
    saver.WaitUntilIdle();
    const AutosaveTemplate afterDrops = saver.name();
    saved.push_back(saver.Save(Frame(4000)));
    saver.WaitUntilIdle();

    EXPECT_EQ(saved[0], Path("run_0000.txt"));
    EXPECT_EQ(saved[1], Path("run_0001.txt"));
    EXPECT_EQ(saved[2], std::nullopt);
    EXPECT_EQ(saved[3], std::nullopt);
    EXPECT_EQ(saved[4], Path("run_0002.txt"));
    EXPECT_EQ(afterDrops.number, 2);
    EXPECT_EQ(afterDrops.lastFileNumber, 1);
    EXPECT_EQ(saver.DroppedFrames(), 2u);
    EXPECT_EQ(saver.TakeDroppedFrames(), 2u);
    EXPECT_EQ(saver.TakeDroppedFrames(), 0u);
    EXPECT_EQ(saver.DroppedFrames(), 2u);

    EXPECT_EQ(piped, Text(Frame(0)));
    EXPECT_EQ(FileText(Path("run_0001.txt")), Text(Frame(1000)));
    EXPECT_EQ(FileText(Path("run_0002.txt")), Text(Frame(4000)));
    EXPECT_FALSE(std::filesystem::exists(Path("run_0003.txt")));
}

// A sink that keeps up writes every frame, each under its own number, in order.
TEST_F(AutosaveBoundTest, ASinkThatKeepsUpLosesAndReordersNothing) {
    FrameAutosaver saver(nullptr);
    saver.name() = AutosaveTemplateFromName(Path("run_0010.txt"));
    constexpr int kFrames = 24;
    for (int32_t frame = 0; frame < kFrames; ++frame) ASSERT_TRUE(saver.Save(Frame(frame)));
    saver.WaitUntilIdle();
    EXPECT_EQ(saver.DroppedFrames(), 0u);
    EXPECT_EQ(saver.name().number, 10 + kFrames);
    for (int32_t frame = 0; frame < kFrames; ++frame) {
        EXPECT_EQ(FileText(AutosaveFileName(saver.name(), 10 + frame)), Text(Frame(frame)))
            << frame;
    }
}

}  // namespace
}  // namespace ulvarin
