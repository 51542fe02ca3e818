# The fuzz targets: name (also of the corpus folder and the executable fuzz_<name>) and the
# body function in targets.h. Shared by the fuzz build and the replay test.
set(ULVARIN_FUZZ_TARGETS
    mask_file:MaskFileTarget
    frame_file:FrameFileTarget
    pulse_files:PulseFilesTarget
    configuration:ConfigurationTarget
    matrix_stream:MatrixStreamTarget
    device_answers:DeviceAnswersTarget)
file(GLOB ULVARIN_FUZZ_BODIES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_target.cpp
     ${CMAKE_CURRENT_LIST_DIR}/fuzz_support.cpp)
