# targets.cmake: the fuzz harnesses and what each one links. Included by fuzz/CMakeLists.txt (the
# libFuzzer build) and by tests/fuzz/CMakeLists.txt (the regression tests that replay the saved
# inputs in every build).
set(KEL2CIFS_FUZZ_DIR ${PROJECT_SOURCE_DIR}/fuzz)

set(KEL2CIFS_FUZZ_TARGETS
    fuzz_cifsofm_method
    fuzz_cifslogs_method
    fuzz_decode_post_data
    fuzz_parse_close_files
    fuzz_process_log_level
    fuzz_read_config_value
    fuzz_cifscons_method
    fuzz_close_files_for_connection
    fuzz_console_text
    fuzz_console_request)
set(KEL2CIFS_FUZZ_LIBS_fuzz_cifsofm_method kel2cifs_ofm)
set(KEL2CIFS_FUZZ_LIBS_fuzz_cifslogs_method kel2cifs_logs)
set(KEL2CIFS_FUZZ_LIBS_fuzz_decode_post_data kel2cifs_ofm)
set(KEL2CIFS_FUZZ_LIBS_fuzz_parse_close_files kel2cifs_ofm)
set(KEL2CIFS_FUZZ_LIBS_fuzz_process_log_level kel2cifs_logger)
set(KEL2CIFS_FUZZ_LIBS_fuzz_read_config_value kel2cifs_plugin)
set(KEL2CIFS_FUZZ_LIBS_fuzz_cifscons_method kel2cifs_connections)
set(KEL2CIFS_FUZZ_LIBS_fuzz_close_files_for_connection kel2cifs_connections)
# The console's own targets run against the real host library, not the recording double.
set(KEL2CIFS_FUZZ_LIBS_fuzz_console_text kel)
set(KEL2CIFS_FUZZ_LIBS_fuzz_console_request kel crypt)
set(KEL2CIFS_FUZZ_SUPPORT_fuzz_console_text kel2cifs_fuzz_input)
set(KEL2CIFS_FUZZ_SUPPORT_fuzz_console_request kel2cifs_fuzz_input)
foreach(target IN LISTS KEL2CIFS_FUZZ_TARGETS)
    if(NOT DEFINED KEL2CIFS_FUZZ_SUPPORT_${target})
        set(KEL2CIFS_FUZZ_SUPPORT_${target} kel2cifs_fuzz_support)
    endif()
endforeach()

# FuzzedDataProvider.h is clang's (a header of its own, usable by any compiler). It is copied
# into the build tree alone: clang's resource include directory also holds its own stddef.h and
# the like, which must never shadow GCC's.
if(NOT TARGET kel2cifs_fuzz_support)
    set(fdp_candidates "")
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-resource-dir
                        OUTPUT_VARIABLE clang_resource_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
        list(APPEND fdp_candidates ${clang_resource_dir}/include/fuzzer/FuzzedDataProvider.h)
    endif()
    file(GLOB fdp_installed /usr/lib/llvm-*/lib/clang/*/include/fuzzer/FuzzedDataProvider.h)
    list(SORT fdp_installed COMPARE NATURAL ORDER DESCENDING)
    list(APPEND fdp_candidates ${fdp_installed})
    set(fdp_header "")
    foreach(candidate IN LISTS fdp_candidates)
        if(EXISTS ${candidate})
            set(fdp_header ${candidate})
            break()
        endif()
    endforeach()
    if(fdp_header STREQUAL "")
        message(FATAL_ERROR "fuzzer/FuzzedDataProvider.h not found: install clang's runtime "
                            "headers (libclang-rt-14-dev, see scripts/deps.sh)")
    endif()
    set(fdp_include ${PROJECT_BINARY_DIR}/fuzz-include)
    configure_file(${fdp_header} ${fdp_include}/fuzzer/FuzzedDataProvider.h COPYONLY)

    # What every harness shares: failing, reading texts and choices from the input.
    add_library(kel2cifs_fuzz_input STATIC ${KEL2CIFS_FUZZ_DIR}/input.cpp)
    target_include_directories(kel2cifs_fuzz_input SYSTEM PUBLIC ${fdp_include})
    target_link_libraries(kel2cifs_fuzz_input PUBLIC kel2cifs_headers)
    # The plug-in's harnesses' shared code: setup, the doubles, invariants.
    add_library(kel2cifs_fuzz_support STATIC ${KEL2CIFS_FUZZ_DIR}/harness.cpp)
    target_link_libraries(kel2cifs_fuzz_support
        PUBLIC kel2cifs_fuzz_input kel2cifs_logger kel2cifs_plugin kel2cifs_fake_host
               kel2cifs_fake_monitoring)
endif()
