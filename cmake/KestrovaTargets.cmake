# Per-target build settings: warnings and sanitizers are attached to each of our targets rather
# than set globally, so third-party code is compiled as its authors intended.
function(kestrova_configure_target target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
        -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
    if(KESTROVA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(KESTROVA_SANITIZE)
        list(JOIN KESTROVA_SANITIZE "," _sanitizers)
        target_compile_options(${target} PRIVATE -fsanitize=${_sanitizers} -fno-omit-frame-pointer
                                                 -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=${_sanitizers})
    endif()
endfunction()

# A GoogleTest executable whose cases are registered with CTest one by one.
#   kestrova_add_test(NAME test_x SOURCES a.cpp b.cpp [LIBS ...] [LABELS ...])
# Tests labelled "concurrency" are also run under ThreadSanitizer by the test command.
function(kestrova_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    kestrova_configure_target(${T_NAME})
    target_link_libraries(${T_NAME} PRIVATE kestrova_testsupport ${T_LIBS} GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES TIMEOUT 300)
    # Labels are set after discovery: gtest_discover_tests splits a property value holding
    # several labels into separate arguments, which loses all but the first.
    set(_labels_script ${CMAKE_CURRENT_BINARY_DIR}/${T_NAME}_labels.cmake)
    file(WRITE ${_labels_script}
         "foreach(t IN LISTS ${T_NAME}_TESTS)\n"
         "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
         "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_labels_script})
    if("concurrency" IN_LIST T_LABELS)
        add_dependencies(kestrova_concurrency_tests ${T_NAME})
    endif()
endfunction()
