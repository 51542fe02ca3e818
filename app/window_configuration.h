// The configuration file of the open interface as the window keeps it: gathered from the
// groups, written to the interface's default file (or one the operator picks), and read
// back key by key into the groups, sending what the interface needs.
#pragma once

#include <string>

#include "config/configuration.h"

namespace ulvarin {

class AnalogPanel;
class BasicCommands;
class ImagePanel;
class ProcessPanel;
class WindowShared;

// The groups whose settings the configuration file holds; they outlive it.
struct ConfiguredGroups {
    WindowShared& shared;
    BasicCommands& basics;
    AnalogPanel& analog;
    ProcessPanel& processes;
    ImagePanel& image;
};

class WindowConfiguration final : public config::ConfigTarget {
public:
    explicit WindowConfiguration(const ConfiguredGroups& groups);

    // Becomes the shared object's configuration loader and saver.
    void Install();

    // With an interface open: writes the file; `interactive` asks for its name first.
    // Failures show a box; results are logged only while `reporting`.
    void Save(bool interactive);
    // With an interface open: reads the file and applies it; true when read whole.
    bool Load(bool interactive);
    // The interface's default file: "<name> (<n> chips, <chip id>).ini" in the Config folder.
    std::string DefaultPath() const;

    // The window's report hooks are installed: results go to the message log.
    bool reporting = false;

    bool Continue(const std::string& question) override;
    void Apply(config::ConfigKey key, const config::Configuration& c) override;

private:
    // What the groups hold now; `readProcess` first reads the process controls' texts.
    config::Configuration Gather(bool readProcess);
    void ApplyInterfaceKey(config::ConfigKey key, const config::Configuration& c);
    void ShowProcessKey(config::ConfigKey key, const config::Configuration& c);
    void ApplyDisplayKey(config::ConfigKey key, const config::Configuration& c);
    void Report(int kind, const std::string& text);

    ConfiguredGroups form_;
};

}  // namespace ulvarin
