# Builds the plug-in bundle, and the ALSA sequencer stand-in that Qtractor is started with, without the sanitizers
# into BUILD (a release build of its own).
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BUILD} -G Ninja -DCMAKE_BUILD_TYPE=Release
                        -DVEXMIR_TESTS=OFF -DVEXMIR_SANITIZE=OFF
                RESULT_VARIABLE configured OUTPUT_QUIET)
if(NOT configured EQUAL 0)
  message(FATAL_ERROR "configuring the release bundle failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD} --target vexmir-plugin vexmir-seq-standin RESULT_VARIABLE built OUTPUT_QUIET)
if(NOT built EQUAL 0)
  message(FATAL_ERROR "building the release bundle failed")
endif()
