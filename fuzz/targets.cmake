# The fuzz targets: name (also of the corpus folder and the executable fuzz_<name>) and the
# body function in targets.h. Shared by the fuzz build and the replay test.
set(ULVARIN_FUZZ_TARGETS
    mask_file:MaskFileTarget
    frame_file:FrameFileTarget
    pulse_files:PulseFilesTarget
    configuration:ConfigurationTarget
    matrix_stream:MatrixStreamTarget
    device_answers:DeviceAnswersTarget)
set(ULVARIN_FUZZ_BODIES "")
foreach(file configuration_target.cpp device_answers_target.cpp frame_file_target.cpp
             mask_file_target.cpp matrix_stream_target.cpp pulse_files_target.cpp fuzz_support.cpp)
  list(APPEND ULVARIN_FUZZ_BODIES ${CMAKE_CURRENT_LIST_DIR}/${file})
endforeach()
