# The cabinet extractor under Wine (included from this folder's CMakeLists).
add_executable(cabinet_test cabinet_test.cpp ${CMAKE_SOURCE_DIR}/tests/tools/TestCabinet.cpp)
target_include_directories(cabinet_test PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
target_link_libraries(cabinet_test PRIVATE stubcode GTest::gtest_main)
target_compile_options(cabinet_test PRIVATE ${CABSETUP_WARNINGS})
target_link_options(cabinet_test PRIVATE -static)
add_test(NAME cabinet_test COMMAND cabinet_test)

# Driver of the end-to-end extraction tests (tests/e2e/test_cabinet.py).
# It carries the stub's resources so the progress window can come up.
add_executable(cabtool cabtool.cpp ${CMAKE_SOURCE_DIR}/tests/tools/TestCabinet.cpp)
target_link_stub_resources(cabtool)
target_include_directories(cabtool PRIVATE ${CMAKE_SOURCE_DIR}/tests/tools)
target_link_libraries(cabtool PRIVATE stubcode)
target_compile_options(cabtool PRIVATE ${CABSETUP_WARNINGS})
target_link_options(cabtool PRIVATE -static)
