# Two small fault plug-ins for the video tests, in a test folder of their own (never beside the
# shipped library); the tests load them by full path, then the library finds them by soname.
set(QV_VIDEO_TEST_PLUGINS ${CMAKE_BINARY_DIR}/tests/video-plugins)
foreach(plugin qvfault qvnoentry)
  add_library(${plugin} SHARED ${CMAKE_CURRENT_SOURCE_DIR}/video/fault_plugin.cpp)
  target_include_directories(${plugin} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  set_target_properties(${plugin} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${QV_VIDEO_TEST_PLUGINS}
                        CXX_VISIBILITY_PRESET hidden)
endforeach()
target_compile_definitions(qvnoentry PRIVATE QV_FAULT_WITHOUT_ENTRY)

foreach(binary native_tests native_tests_asan jni_tests jni_tests_asan)
  if(TARGET ${binary})
    # The library exports plain close/pause of its own: libc comes first on the
    # link line, so the test binary's own calls bind to glibc's versions.
    target_link_options(${binary} BEFORE PRIVATE "LINKER:--push-state,--no-as-needed,-lc,--pop-state")
    target_compile_definitions(${binary} PRIVATE QV_VIDEO_TEST_PLUGINS="${QV_VIDEO_TEST_PLUGINS}")
    add_dependencies(${binary} qvfault qvnoentry)
    if(TARGET video_loaders) # the real plug-ins the clips are played through
      add_dependencies(${binary} video_loaders)
    endif()
  endif()
endforeach()
