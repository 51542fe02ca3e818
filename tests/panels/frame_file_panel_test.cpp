// Frame files through the window: the view saved and loaded in both layouts, autosave with
// its numbered names and the stepping buttons, failures shown in boxes, and a file that sets
// the chip count while no interface is open.
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>
#include <zmq.hpp>
#include <zmq_addon.hpp>
#include <string>

#include "device/link.h"
#include "files/frame_file.h"
#include "files/frame_writer.h"
#include "tests/app/window_fixture.h"
#include "tests/support/file_readers.h"

namespace ulvarin::test {
namespace {

class FrameFilePanelTest : public WindowTest {
protected:
    // Puts `counts(chip, pixel)` into every emulated pixel counter and takes a frame.
    template <class F>
    void TakeFrame(F counts) {
        const int chips = static_cast<int>(form->shared.chipCount);
        emulator->WithInterface(0, [&](sim::EmulatedInterface& e) {
            for (int c = 0; c < chips; ++c)
                for (int p = 0; p < kChipPixels; ++p)
                    e.Chip(c).counts[p] = static_cast<uint16_t>(counts(c, p));
        });
        Control<QPushButton>("BttnGetData")->click();
    }
    // The count frame as the window holds it, for the chips in use.
    std::vector<int32_t> Counts() {
        const auto counts = form->shared.frames.counts().first(form->shared.frames.pixelsInUse());
        return {counts.begin(), counts.end()};
    }
    void Click(const char* name) { Control<QPushButton>(name)->click(); }
    std::string Path(const char* name) { return (folder.path() + "/" + name).toStdString(); }
    int LinesOf(const std::string& path) {
        std::ifstream in(path);
        int lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        return lines;
    }

    QTemporaryDir folder;
};

int Pattern(int c, int p) {
    return (c + 1) * 1000 + p % 977;
}

// One chip is written in chip order, more chips in image order; both read back whole,
// three chips (an image with an empty tile) included.
TEST_F(FrameFilePanelTest, SavedViewsLoadBackInBothLayouts) {
    for (const char* set : {"medipix2:1", "timepix:3", "mxr:4"}) {
        SCOPED_TRACE(set);
        Start(set);
        TakeFrame(Pattern);
        const std::vector<int32_t> taken = Counts();
        const std::string path = Path("view");  // no extension: ".txt" is added
        dialogs->paths.push_back(path);
        Click("BttnSaveData");
        EXPECT_EQ(dialogs->fileRequests.back().title, "Save data matrix as ...");
        EXPECT_EQ(LastLine(), QString::fromStdString("Image written to: " + path + ".txt"));
        const int chips = static_cast<int>(form->shared.chipCount);
        EXPECT_EQ(LinesOf(path + ".txt"), chips == 4 ? 512 : 256);

        TakeFrame([](int, int) { return 7; });
        dialogs->paths.push_back(path + ".txt");
        Click("BttnLoadData");
        EXPECT_EQ(dialogs->fileRequests.back().initialName, "data.txt");
        EXPECT_EQ(Counts(), taken);
        EXPECT_EQ(LastLine(), QString::fromStdString("Image Loaded from: " + path + ".txt"));
        EXPECT_TRUE(dialogs->messages.empty());
        TearDown();  // the next chip set gets a window of its own
    }
}

// Autosave numbers the frames from the chosen name; "<<" and ">>" step through them and a
// missing file leaves the number where it was.
TEST_F(FrameFilePanelTest, AutosavedFramesAreSteppedThrough) {
    Start("timepix:4");
    dialogs->paths.push_back(Path("run_0005.txt"));
    Click("BttnBrowse");
    EXPECT_TRUE(Control<QCheckBox>("ChkbAutoSaveFrames")->isChecked());
    EXPECT_EQ(Control<QLineEdit>("EditFileName")->text(), "run_0005.txt");
    std::vector<std::vector<int32_t>> frames;
    for (int i = 0; i < 3; ++i) {
        TakeFrame([i](int c, int p) { return i * 100 + c * 10 + p % 5; });
        frames.push_back(Counts());
    }
    EXPECT_EQ(Control<QLineEdit>("EditFileName")->text(), "run_0007.txt");
    form->frameFiles->WaitForAutosaves();
    EXPECT_EQ(LinesOf(Path("run_0007.txt")), 1024);  // chip order, 256 values a line
    EXPECT_EQ(form->frameFiles->autosaveName().number, 8);

    Click("BttnLoadPrew");
    EXPECT_EQ(Counts(), frames[1]);
    EXPECT_EQ(Control<QLineEdit>("EditFileName")->text(), "run_0006.txt");
    Click("BttnLoadPrew");
    EXPECT_EQ(Counts(), frames[0]);
    Click("BttnLoadPrew");  // run_0004.txt was never written
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_EQ(dialogs->messages[0].text, "Error - coldn't open data file");
    EXPECT_EQ(form->frameFiles->autosaveName().lastFileNumber, 5);
    Click("BttnLoadNext");
    Click("BttnLoadNext");
    EXPECT_EQ(Counts(), frames[2]);
    EXPECT_EQ(form->frameFiles->autosaveName().lastFileNumber, 7);
}

// "Stream" sends each frame taken in, as taken, to a consumer that connects; switched off,
// the series ends with the count sent; an endpoint that cannot be bound is told in a box.
TEST_F(FrameFilePanelTest, StreamedFramesReachAConsumerAsTaken) {
    Start("medipix2:1");
    Control<QLineEdit>("EditStreamEndpoint")->setText("tcp://127.0.0.1:*");
    Control<QCheckBox>("ChkbStream")->setChecked(true);
    const QString opened = LastLine();
    ASSERT_TRUE(opened.startsWith("Streaming frames from tcp://127.0.0.1:")) << opened.toStdString();
    EXPECT_FALSE(Control<QLineEdit>("EditStreamEndpoint")->isEnabled());
    zmq::context_t context;
    zmq::socket_t consumer(context, zmq::socket_type::sub);
    consumer.set(zmq::sockopt::subscribe, "");
    consumer.set(zmq::sockopt::rcvtimeo, 200);
    consumer.connect(opened.section(' ', 3).toStdString());
    // Frames sent before the subscription reaches the window are not seen: take frames
    // until one arrives.
    std::vector<zmq::message_t> parts;
    for (int tries = 0; tries < 50 && parts.empty(); ++tries) {
        TakeFrame([](int, int) { return 1; });
        (void)zmq::recv_multipart(consumer, std::back_inserter(parts));
    }
    ASSERT_EQ(parts.size(), 2u) << "no frame reached the consumer";
    consumer.set(zmq::sockopt::rcvtimeo, 5000);
    TakeFrame(Pattern);
    parts.clear();
    ASSERT_TRUE(zmq::recv_multipart(consumer, std::back_inserter(parts)));
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_NE(parts[0].to_string().find("\"htype\":\"frame\""), std::string::npos);
    ASSERT_EQ(parts[1].size(), kChipPixels * sizeof(uint32_t));
    const auto* values = parts[1].data<uint32_t>();
    const std::vector<int32_t> taken = Counts();  // one chip: the image is the chip as it is
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), values));

    Control<QCheckBox>("ChkbStream")->setChecked(false);
    parts.clear();
    ASSERT_TRUE(zmq::recv_multipart(consumer, std::back_inserter(parts)));
    EXPECT_NE(parts[0].to_string().find("\"htype\":\"series_end\""), std::string::npos);
    EXPECT_TRUE(LastLine().startsWith("Stream ended: ")) << LastLine().toStdString();
    EXPECT_TRUE(LastLine().endsWith(" frame(s) sent, 0 dropped")) << LastLine().toStdString();

    Control<QLineEdit>("EditStreamEndpoint")->setText("tcp://nowhere:x");
    Control<QCheckBox>("ChkbStream")->setChecked(true);
    EXPECT_FALSE(Control<QCheckBox>("ChkbStream")->isChecked());
    ASSERT_EQ(dialogs->messages.size(), 1u);
    EXPECT_NE(dialogs->messages[0].text.find("Cannot open the stream at tcp://nowhere:x"),
              std::string::npos);
}

// A frame that cannot be written is reported, and the next frame tries the same name.
TEST_F(FrameFilePanelTest, AFailedAutosaveKeepsItsNumber) {
    Start("medipix2:1");
    dialogs->paths.push_back(Path("missing/run_0003.txt"));
    Click("BttnBrowse");
    TakeFrame(Pattern);
    form->frameFiles->WaitForAutosaves();
    ASSERT_TRUE(WaitFor([&] { return !dialogs->messages.empty(); }));
    EXPECT_EQ(dialogs->messages[0].text, "Error - coldn't open output file");
    EXPECT_EQ(form->frameFiles->autosaveName().number, 3);
    ASSERT_TRUE(QDir().mkpath(folder.path() + "/missing"));
    TakeFrame(Pattern);
    form->frameFiles->WaitForAutosaves();
    EXPECT_EQ(LinesOf(Path("missing/run_0003.txt")), 256);
    EXPECT_EQ(form->frameFiles->autosaveName().number, 4);
}

// "Save Image Data" writes the count frame to TIFF and HDF5 in the image layout; autosave
// to ".tif" numbers single pages, to ".h5" appends every frame to one run file.
TEST_F(FrameFilePanelTest, TiffAndHdfFilesHoldTheCountFrame) {
    Start("timepix:4");
    TakeFrame(Pattern);
    const ChipLayout layout = form->shared.frames.layout();
    std::vector<uint32_t> image(GeometryFor(4).pixels());
    ImageOrderCounts(Counts(), layout, image);
    dialogs->paths.push_back(Path("view.tif"));
    Click("BttnSaveData");
    EXPECT_EQ(LastLine(), QString::fromStdString("Image written to: " + Path("view.tif")));
    const std::vector<TiffPage> pages = ReadTiffPages(Path("view.tif"));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].values, image);
    form->basics->ChooseMode(1);  // time over threshold, sent to every chip
    dialogs->paths.push_back(Path("view.h5"));
    Click("BttnSaveData");
    EXPECT_EQ(Hdf5Reader(Path("view.h5")).Texts("count_mode"),
              (std::vector<std::string>{"tot", "tot", "tot", "tot"}));
    EXPECT_TRUE(Hdf5Reader(Path("view.h5")).Dims("entry/instrument/detector/flatfield").empty())
        << "no flat field unless the image shows one";
    Control<QCheckBox>("ChkbFF")->setChecked(true);
    dialogs->paths.push_back(Path("corrected.h5"));
    Click("BttnSaveData");
    EXPECT_EQ(Hdf5Reader(Path("corrected.h5")).Dims("entry/instrument/detector/flatfield"),
              (std::vector<uint64_t>{4, 256, 256}));
    Control<QCheckBox>("ChkbFF")->setChecked(false);
    EXPECT_EQ(Hdf5Reader(Path("view.h5")).Counts("frames"), image);
    EXPECT_EQ(Hdf5Reader(Path("view.h5")).Text("chip_ids"), ChipIdText(form->shared.device));
    EXPECT_EQ(Hdf5Reader(Path("view.h5")).Text("firmware").rfind("Emulated interface ver ", 0), 0u);

    for (const char* name : {"page_0002.tif", "run_0002.h5"}) {
        dialogs->paths.push_back(Path(name));
        Click("BttnBrowse");
        for (int i = 0; i < 3; ++i)
            TakeFrame([i](int c, int p) { return i * 100 + c * 10 + p % 5; });
    }
    Control<QCheckBox>("ChkbAutoSaveFrames")->setChecked(false);  // ends the run file
    form->frameFiles->WaitForAutosaves();
    EXPECT_EQ(Lines().filter(QStringLiteral("\"Version info\" performed OK")).size(), 1)
        << "the firmware is asked once per open, not once per autosaved frame";
    EXPECT_EQ(ReadTiffPages(Path("page_0004.tif")).size(), 1u);
    EXPECT_EQ(Control<QLineEdit>("EditFileName")->text(), "run_0002.h5");
    EXPECT_EQ(form->frameFiles->autosaveName().number, 2);
    EXPECT_EQ(Hdf5Reader(Path("run_0002.h5")).Dims("frames"), (std::vector<uint64_t>{3, 512, 512}));
    // Switched on again, autosave continues the run file rather than overwriting it.
    Control<QCheckBox>("ChkbAutoSaveFrames")->setChecked(true);
    TakeFrame(Pattern);
    Control<QCheckBox>("ChkbAutoSaveFrames")->setChecked(false);
    form->frameFiles->WaitForAutosaves();
    Hdf5Reader run(Path("run_0002.h5"));
    EXPECT_EQ(run.Dims("frames"), (std::vector<uint64_t>{4, 512, 512}));
    const std::vector<uint32_t> stack = run.Counts("frames");
    ImageOrderCounts(Counts(), layout, image);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), stack.end() - image.size()));
    EXPECT_EQ(run.Doubles("timestamp").size(), 4u);
    EXPECT_TRUE(dialogs->messages.empty());
}

// With no interface open the file decides the chip count; a refused file changes nothing.
TEST_F(FrameFilePanelTest, AFileSetsTheChipCountWhileOffline) {
    Start("");
    std::vector<int32_t> counts(2 * kChipPixels);
    for (size_t i = 0; i < counts.size(); ++i) counts[i] = static_cast<int32_t>(i % 4000);
    ASSERT_TRUE(WriteCountFrame(Path("two.txt"), counts));
    {
        std::ofstream bad(Path("bad.txt"));
        for (int i = 0; i < 255; ++i) bad << "1 ";
        bad << "\n";
    }
    EXPECT_FALSE(form->frameFiles->LoadFrameFile(Path("bad.txt")));
    EXPECT_EQ(dialogs->messages.back().text,
              "Error - Not compatible data format! \r(Wrong number of items per row)");
    EXPECT_EQ(form->shared.chipCount, 0u);

    EXPECT_TRUE(form->frameFiles->LoadFrameFile(Path("two.txt")));
    EXPECT_EQ(form->shared.chipCount, 2u);
    EXPECT_EQ(Control<QLabel>("LabelNumChips")->text(), "Double");
    EXPECT_EQ(Counts(), counts);
    EXPECT_EQ(form->image->shown().statistics.maximum, 3999);
}

}  // namespace
}  // namespace ulvarin::test
