# The user-interface windows: the driver for the end-to-end window tests,
# and the in-process window tests.
# Calls the user-interface operations the way a run does.
add_executable(uidriver WIN32 uidriver.cpp)
target_link_stub_resources(uidriver)
target_link_libraries(uidriver PRIVATE stubcode)
target_compile_options(uidriver PRIVATE ${CABSETUP_WARNINGS})
target_link_options(uidriver PRIVATE -static)

# The windows and the user-interface operations, in process.
add_executable(ui_windows_test ui_windows_test.cpp)
target_link_stub_resources(ui_windows_test)
target_link_libraries(ui_windows_test PRIVATE stubcode GTest::gtest_main)
target_compile_options(ui_windows_test PRIVATE ${CABSETUP_WARNINGS})
target_link_options(ui_windows_test PRIVATE -static)
add_test(NAME ui_windows_test COMMAND ui_windows_test)

# The stubs' resources, read from the files as Windows reads them.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME ui_resources
  COMMAND ${Python3_EXECUTABLE} -B ${CMAKE_CURRENT_SOURCE_DIR}/ui_resources_test.py
          ${CABSETUP_TARGET} $<TARGET_FILE:stub> $<TARGET_FILE:stub_nogui>)
# Branded copies are made by the native build's packer.
set_tests_properties(ui_resources PROPERTIES ENVIRONMENT "CABSETUP=${CABSETUP_NATIVE_DIR}/tools/pack/cabsetup")

# The same operations when the windows cannot be made (stub_nogui's table).
add_executable(ui_nogui_test ui_nogui_test.cpp ${CMAKE_SOURCE_DIR}/tests/stub/NoWindows.cpp)
target_link_libraries(ui_nogui_test PRIVATE stubcode GTest::gtest_main)
target_compile_options(ui_nogui_test PRIVATE ${CABSETUP_WARNINGS})
target_link_options(ui_nogui_test PRIVATE -static)
add_test(NAME ui_nogui_test COMMAND ui_nogui_test)

# What Windows reads of a branded program: its version strings and icons
# (the end-to-end tests of `cabsetup pack --icon --product-version`).
add_executable(verinfo verinfo.cpp)
target_compile_options(verinfo PRIVATE ${CABSETUP_WARNINGS})
target_compile_definitions(verinfo PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
target_link_options(verinfo PRIVATE -municode -static)
target_link_libraries(verinfo PRIVATE version user32)
