# velmo_add_test_suite(<name> LABEL <label> [GUI|WIDGETS] SOURCES <files...> LIBS <targets...>
#                      [PROPERTIES <ctest properties...>])
#
# One GoogleTest executable per subsystem. The test main creates the Qt
# application object: QCoreApplication, or with GUI a QGuiApplication on the
# offscreen platform, or with WIDGETS a QApplication there. Tests are discovered when ctest runs (not at build time)
# so that a sanitizer report during discovery is a failing test, not a broken
# build.
function(velmo_add_test_suite name)
  cmake_parse_arguments(ARG "GUI;WIDGETS" "LABEL" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  velmo_target(${name})
  if(ARG_WIDGETS)
    target_link_libraries(${name} PRIVATE velmo_testmain_widgets)
  elseif(ARG_GUI)
    target_link_libraries(${name} PRIVATE velmo_testmain_gui)
  else()
    target_link_libraries(${name} PRIVATE velmo_testmain_core)
  endif()
  target_link_libraries(${name} PRIVATE velmo_testlib ${ARG_LIBS} GTest::gtest GTest::gmock)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT 300 ${ARG_PROPERTIES})
endfunction()
