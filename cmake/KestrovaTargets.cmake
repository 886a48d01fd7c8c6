# Per-target build settings: warnings and sanitizers are attached to each of our targets rather
# than set globally, so third-party code is compiled as its authors intended.
function(kestrova_configure_target target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
        -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
    if(KESTROVA_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(KESTROVA_FUZZ)
        # Coverage for libFuzzer on every target; the fuzz targets add the fuzzer's main.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined
                                                 -fno-omit-frame-pointer -fno-sanitize-recover=all)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    elseif(KESTROVA_SANITIZE)
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
    target_link_libraries(${T_NAME} PRIVATE kestrova_testsupport ${T_LIBS} GTest::gtest)
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

# One layer of the program: a static library (INTERFACE: headers only) whose headers are
# reachable as "<PREFIX>/<header>" only from the layer itself and from the targets that link it.
# Each layer gets an include folder of its own in the build tree, holding links to its headers,
# so that including a layer one does not link fails to compile: the build enforces the layering.
#   kestrova_add_layer(NAME kestrova_download PREFIX download
#                      SOURCES FileDownload.cpp ... HEADERS FileDownload.h ...
#                      DEPENDS kestrova_platform kestrova_messages)
# Dependencies are private: a target that includes a dependency's headers links it itself.
function(kestrova_add_layer)
    cmake_parse_arguments(L "INTERFACE" "NAME;PREFIX" "SOURCES;HEADERS;DEPENDS;PUBLIC_DEPENDS"
                          ${ARGN})
    set(_root ${CMAKE_BINARY_DIR}/layers/${L_NAME})
    file(REMOVE_RECURSE ${_root})
    foreach(_header IN LISTS L_HEADERS)
        set(_link ${_root}/${L_PREFIX}/${_header})
        get_filename_component(_dir ${_link} DIRECTORY)
        file(MAKE_DIRECTORY ${_dir})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${_header} ${_link} SYMBOLIC)
    endforeach()
    if(L_INTERFACE)
        add_library(${L_NAME} INTERFACE)
        target_include_directories(${L_NAME} INTERFACE ${_root})
        return()
    endif()
    add_library(${L_NAME} STATIC ${L_SOURCES} ${L_HEADERS})
    kestrova_configure_target(${L_NAME})
    target_include_directories(${L_NAME} PUBLIC ${_root})
    target_link_libraries(${L_NAME} PRIVATE ${L_DEPENDS} PUBLIC ${L_PUBLIC_DEPENDS})
endfunction()
