// The configuration file through the window: what an interface was left with comes back
// when it is opened again (saved at exit, loaded after the full open), and the Save and Load
// buttons with their dialogs, questions and failures.
#include "config/configuration.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/program_folder.h"
#include "device/conversions.h"
#include "device/link.h"
#include "tests/app/window_fixture.h"

namespace ulvarin::test {
namespace {

class ConfigurationTest : public WindowTest {
protected:
    QString Text(const char* name) {
        if (auto* box = form->findChild<QComboBox*>(QString::fromUtf8(name)))
            return box->currentText();
        return Control<QLineEdit>(name)->text();
    }
    // Ends the window as the program's exit does and starts a new one on the same
    // interfaces, which opens the first of them in full.
    void Restart() {
        form.reset();
        MpxDevice leftOpen;
        while ((leftOpen.device = registry::At(0)) != nullptr) CloseDevice(leftOpen, true);
        form = std::make_unique<TFormUlvarin>();
        ASSERT_TRUE(WaitFor([&] { return form->Timer->isActive() && form->shared.IsOpen(); }));
    }
    // The interface's name with its first colon made a full stop (the emulated ones have one).
    std::string DefaultFile() {
        std::string name = Description(0) + " (" + std::to_string(form->shared.chipCount) +
                           " chips, " + form->shared.device.device->chipIdText + ").ini";
        if (const size_t colon = name.find(':'); colon != std::string::npos) name[colon] = '.';
        return ConfigFolder() + "/" + name;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(ConfigurationTest, AnInterfaceComesBackAsItWasLeft) {
    Start("medipix2:2");
    ASSERT_TRUE(form->shared.IsOpen());
    EXPECT_TRUE(
        Lines().contains("General error: Configuration cant be Loaded. Cant open ini file."));
    form->shared.dacRecords[1].dac[2] = 77;
    form->shared.dacRecords[0].senseCode = 3;
    Choose(Control<QComboBox>("CombBias"), Control<QComboBox>("CombBias")->findText("60 V"));
    Type(Control<QLineEdit>("EditRepeat"), "7");
    Control<QComboBox>("CombPeriod")->setEditText("0.5");
    Choose(Control<QComboBox>("CombPolarity"), 1);
    form->image->SetTypedRange(10, 500);
    form->image->SetIntegrating(true);
    const std::string file = DefaultFile();
    const QString biasShown = Text("CombBias");

    Restart();  // saved silently at exit, loaded after the full open
    EXPECT_TRUE(dialogs->messages.empty());
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_TRUE(Lines().contains("Message: Configuration loaded OK.")) << Read(file);
    EXPECT_EQ(form->shared.dacRecords[1].dac[2], 77);
    EXPECT_EQ(form->shared.dacRecords[0].senseCode, 3);
    EXPECT_EQ(EmulatorBias(0), BiasToCode(60.0));
    EXPECT_EQ(Text("CombBias"), biasShown);
    EXPECT_EQ(Text("CombPolarity"), "Negative");
    EXPECT_EQ(Text("EditRepeat"), "7");
    EXPECT_EQ(Text("CombPeriod"), "0.5");
    EXPECT_EQ(Text("EditRangeMin") + ".." + Text("EditRangeMax"), "10..500");
    EXPECT_FALSE(Control<QCheckBox>("ChkbRangeAuto")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>("ChkbSum")->isChecked());

    // Closing saves as well, and says so; then it switches the bias off, which the box shows
    // while the file keeps the working bias.
    form->shared.dacRecords[1].dac[2] = 78;
    Control<QPushButton>("BttnClose")->click();
    EXPECT_TRUE(Lines().contains("Message: Configuration saved OK."));
    EXPECT_NE(Read(file).find("Chip 2 DACs: "), std::string::npos);
    EXPECT_NE(Read(file).find("\nHV=60\n"), std::string::npos);
    EXPECT_EQ(EmulatorBias(0), 0);
    EXPECT_EQ(Text("CombBias"), "4.5 V");
    EXPECT_FALSE(Control<QPushButton>("BttnSaveCfg")->isEnabled());
}

TEST_F(ConfigurationTest, TheButtonsAskAndReport) {
    Start("medipix2:1");
    const std::string path = (programFolder->path() + "/other.ini").toStdString();
    dialogs->paths.push_back(path);
    Control<QPushButton>("BttnSaveCfg")->click();
    EXPECT_EQ(dialogs->fileRequests.back().title, "Save configuration to ...");
    EXPECT_EQ(dialogs->fileRequests.back().initialName, DefaultFile());
    EXPECT_EQ(LastLine(), "Message: Configuration saved OK.");
    const std::string saved = Read(path);
    EXPECT_EQ(saved.rfind("[Medipix]\nPolarity=Positive\n", 0), 0u) << saved;

    // A file for two chips: Cancel stops with the question as the report, OK reads both.
    config::Configuration two;
    two.chips = 2;
    two.records[1].dac[0] = 333;
    { std::ofstream(path) << config::ConfigurationText(two); }
    dialogs->paths.push_back(path);
    dialogs->answers.push_back(DialogAnswer::Cancel);
    Control<QPushButton>("BttnLoadConfig")->click();
    EXPECT_EQ(LastLine(), QString("General error: ") + config::kChipCountQuestion);
    EXPECT_EQ(form->shared.dacRecords[1].dac[0], DacDefaultOf(ChipType::Medipix2, 0));
    dialogs->paths.push_back(path);
    dialogs->answers.push_back(DialogAnswer::Ok);
    Control<QPushButton>("BttnLoadConfig")->click();
    EXPECT_EQ(LastLine(), "Message: Configuration loaded OK.");
    EXPECT_EQ(form->shared.dacRecords[1].dac[0], 333);

    // A malformed line: a box and the same text in the log.
    std::string broken = config::ConfigurationText(two);
    broken.replace(broken.find("FSR="), 4, "FSR = ");
    std::ofstream(path) << broken;
    dialogs->paths.push_back(path);
    dialogs->answers.push_back(DialogAnswer::Ok);
    const size_t boxes = dialogs->messages.size();
    Control<QPushButton>("BttnLoadConfig")->click();
    ASSERT_EQ(dialogs->messages.size(), boxes + 1);
    const std::string text =
        "Configuration cant be loaded. \rWrong ini file format. \r(Medipix: Bad FSR format)";
    EXPECT_EQ(dialogs->messages.back().text, text);
    EXPECT_EQ(dialogs->messages.back().caption, "Error loading configuration");
    EXPECT_EQ(LastLine(), QString::fromStdString("General error: " + text));

    // Cancelled dialogs do nothing.
    const int lines = Lines().size();
    Control<QPushButton>("BttnLoadConfig")->click();
    Control<QPushButton>("BttnSaveCfg")->click();
    EXPECT_EQ(Lines().size(), lines);
}

// A range typed into the file by hand comes back whole: its boxes show it shortened, and
// the view, which reads its limits from the boxes, keeps every digit that was loaded.
TEST_F(ConfigurationTest, ALoadedViewRangeKeepsItsDigits) {
    Start("medipix2:1");
    const std::string path = (programFolder->path() + "/range.ini").toStdString();
    std::string text = config::ConfigurationText(config::Configuration{});
    text.replace(text.find("View range="), std::string::npos,
                 "View range=<0.123456789012345, 1234567890123.45>, Auto=false\n");
    std::ofstream(path) << text;
    dialogs->paths.push_back(path);
    Control<QPushButton>("BttnLoadConfig")->click();
    EXPECT_EQ(LastLine(), "Message: Configuration loaded OK.");
    EXPECT_EQ(Text("EditRangeMin") + ".." + Text("EditRangeMax"), "0.123457..1.23457e+12");
    form->image->RequestImageRedraw();
    EXPECT_EQ(form->image->ViewRange().min, 0.123456789012345);
    EXPECT_EQ(form->image->ViewRange().max, 1234567890123.45);
}

}  // namespace
}  // namespace ulvarin::test
