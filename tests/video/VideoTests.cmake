# Video test companions: two small fault plug-ins in a test folder of their
# own (never beside the shipped library). The tests load them by full path
# first, so the library's dlopen of "lib<name>.so" finds them by soname.
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
  endif()
endforeach()

foreach(binary native_tests native_tests_asan jni_tests jni_tests_asan)
  if(TARGET ${binary})
    target_compile_definitions(${binary} PRIVATE QV_VIDEO_TEST_PLUGINS="${QV_VIDEO_TEST_PLUGINS}")
    add_dependencies(${binary} qvfault qvnoentry)
    # The real plug-ins the clips are played through.
    if(TARGET video_loaders)
      add_dependencies(${binary} video_loaders)
    endif()
  endif()
endforeach()
