#include "panels/frame_files/frame_file_tables.h"

namespace ulvarin {
namespace {

using K = Kind;

}  // namespace

Grid ImageFileGrid() {
    return {
        {{.kind = K::Button,
          .name = "BttnSaveData",
          .text = "Save Image Data",
          .hint = "Saves curently displayed frame data to ASCII file"},
         {.kind = K::Button,
          .name = "BttnLoadData",
          .text = "Load Raw Data ...",
          .hint = "Loads frame from ASCII file ...",
          .span = 4}},
        {{.kind = K::Check,
          .name = "ChkbAutoSaveFrames",
          .text = "Autosave",
          .hint = "All obtained frames are saved automatically to files according to filename "
                  "template"},
         {.kind = K::Edit,
          .name = "EditFileName",
          .text = "data_0000.txt",
          .hint = "Filename template for autosaving",
          .enabled = false},
         {.kind = K::Button,
          .name = "BttnBrowse",
          .text = "...",
          .hint = "Choose directory for autosaving and filename template (numbers in template are "
                  "incremented automatically)"},
         {.kind = K::Button,
          .name = "BttnLoadPrew",
          .text = "<<",
          .hint = "Loads previous autosaved frame"},
         {.kind = K::Button,
          .name = "BttnLoadNext",
          .text = ">>",
          .hint = "Loads next autosaved frame"}},
        {{.kind = K::Check,
          .name = "ChkbStream",
          .text = "Stream",
          .hint = "Every frame taken in is also sent live over ZeroMQ from the endpoint beside "
                  "(consumers connect a SUB socket; the README gives the format)"},
         {.kind = K::Edit,
          .name = "EditStreamEndpoint",
          .text = "tcp://*:5555",
          .hint = "Endpoint the frames are sent from, e.g. tcp://*:5555",
          .span = 4}},
    };
}

}  // namespace ulvarin
