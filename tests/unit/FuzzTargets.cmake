# The fuzz targets: libFuzzer with the address and undefined-behaviour
# sanitizers needs clang, whatever compiler builds the rest, so clang++
# compiles the sources each target needs itself: every source once, into
# fuzz_objects/, shared by the targets that link it.
#
#   inflate    the deflate decoder on raw streams (inflate_fuzzer.cpp)
#   engine     a whole self-extractor image through the engine, into the host
#              platform's in-memory file system, with a containment audit
#   build_zip  `dravik-sfx build --zip` on arbitrary bytes
#   info       `dravik-sfx info` on arbitrary bytes
#
# Each is a test, unit.<name>_fuzz, run for a few seconds from the checked-in
# seeds, growing a corpus in the build tree; findings go to fuzz/findings/.
# The targets are listed in fuzz/targets (name|binary|options|seed folders)
# for scripts/fuzz, which runs the long campaigns.
if(DRAVIK_SANITIZE)
  return()  # the main build has them, sanitized already
endif()
find_program(DRAVIK_CLANGXX NAMES clang++ clang++-14)
if(NOT DRAVIK_CLANGXX)
  message(STATUS "No clang++: no fuzz targets")
  return()
endif()

set(FUZZ_OBJECT_DIR ${CMAKE_CURRENT_BINARY_DIR}/fuzz_objects)
set(FUZZ_WORK_DIR ${CMAKE_BINARY_DIR}/fuzz)
set(FUZZ_TARGET_LIST ${FUZZ_WORK_DIR}/targets)
set(FUZZ_SEEDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_corpus)
set(FUZZ_COVERAGE_IGNORE ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_coverage_ignore.txt)
set(FUZZ_COMPILE_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
    -fsanitize-coverage-ignorelist=${FUZZ_COVERAGE_IGNORE}
    -std=c++20 -g -O1 -I ${PROJECT_SOURCE_DIR}/stub -I ${DRAVIK_GENERATED_DIR} -I ${PROJECT_SOURCE_DIR}
    -DDRAVIK_VERSION="${PROJECT_VERSION}")
file(MAKE_DIRECTORY ${FUZZ_OBJECT_DIR} ${FUZZ_WORK_DIR})
file(WRITE ${FUZZ_TARGET_LIST} "")

# Sources of a target's SOURCES property, as absolute paths.
function(absolute_sources target out_var)
  get_target_property(sources ${target} SOURCES)
  get_target_property(folder ${target} SOURCE_DIR)
  set(result)
  foreach(source IN LISTS sources)
    if(source MATCHES "^\\$<")
      continue()  # a generator expression (objects of another library)
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${folder} OUTPUT_VARIABLE path)
    list(APPEND result ${path})
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# The object of one source, compiled for the fuzz targets (once, however many
# targets link it).
function(fuzz_object source out_var)
  file(RELATIVE_PATH relative ${CMAKE_BINARY_DIR} ${source})
  string(MAKE_C_IDENTIFIER ${relative} name)
  set(object ${FUZZ_OBJECT_DIR}/${name}.o)
  get_property(made GLOBAL PROPERTY DRAVIK_FUZZ_OBJECTS)
  if(NOT object IN_LIST made)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${DRAVIK_CLANGXX} ${FUZZ_COMPILE_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source} ${FUZZ_COVERAGE_IGNORE}
      DEPFILE ${object}.d
      COMMENT "Fuzz object ${relative}"
      VERBATIM)
    set_property(GLOBAL APPEND PROPERTY DRAVIK_FUZZ_OBJECTS ${object})
  endif()
  set(${out_var} ${object} PARENT_SCOPE)
endfunction()

# add_fuzz_target(NAME SECONDS s SOURCES ... [LIBRARIES ...] [DEPENDS target...]
#                 [OPTIONS libFuzzer flag...] SEEDS folder...)
function(add_fuzz_target name)
  cmake_parse_arguments(FUZZ "" "SECONDS" "SOURCES;LIBRARIES;DEPENDS;OPTIONS;SEEDS" ${ARGN})
  set(objects)
  foreach(source IN LISTS FUZZ_SOURCES)
    fuzz_object(${source} object)
    list(APPEND objects ${object})
  endforeach()
  set(binary ${CMAKE_CURRENT_BINARY_DIR}/${name}_fuzzer.bin)
  add_custom_command(
    OUTPUT ${binary}
    COMMAND ${DRAVIK_CLANGXX} -fsanitize=fuzzer,address,undefined ${objects} ${FUZZ_LIBRARIES} -o ${binary}
    DEPENDS ${objects}
    COMMENT "Fuzz target ${name} (clang, libFuzzer, ASan, UBSan)"
    VERBATIM)
  add_custom_target(${name}_fuzzer ALL DEPENDS ${binary})
  add_dependencies(${name}_fuzzer message_record ${FUZZ_DEPENDS})
  set(grown ${FUZZ_WORK_DIR}/corpus/${name})
  set(findings ${FUZZ_WORK_DIR}/findings/${name})
  add_test(NAME unit.${name}_fuzz
    COMMAND sh -c "b=$0 g=$1 f=$2; shift 2; mkdir -p \"$g\" \"$f\" && exec \"$b\" -max_total_time=${FUZZ_SECONDS} -timeout=5 -rss_limit_mb=2048 -artifact_prefix=\"$f/\" \"$g\" \"$@\""
            ${binary} ${grown} ${findings} ${FUZZ_OPTIONS} ${FUZZ_SEEDS})
  set_tests_properties(unit.${name}_fuzz PROPERTIES TIMEOUT 180)
  list(JOIN FUZZ_OPTIONS " " options)
  list(JOIN FUZZ_SEEDS " " seeds)
  file(APPEND ${FUZZ_TARGET_LIST} "${name}|${binary}|${options}|${seeds}\n")
endfunction()

set(STUB_DIR ${PROJECT_SOURCE_DIR}/stub)
# The stub's portable code with the host platform and the message table,
# as the host programs link it.
absolute_sources(stub_core_objects STUB_HOST_SOURCES)
list(APPEND STUB_HOST_SOURCES ${STUB_DIR}/container/message_table.cpp ${STUB_DIR}/archive/stored_texts.cpp
     ${DRAVIK_GENERATED_DIR}/message_record.cpp)
# dravik-sfx without its main(): the builder's parts and the embedded stubs.
absolute_sources(builder_core BUILDER_SOURCES)
absolute_sources(dravik-sfx DRAVIK_SFX_SOURCES)
list(FILTER DRAVIK_SFX_SOURCES EXCLUDE REGEX "/main\\.cpp$")

# What the builder's parts link besides the C++ runtime.
set(BUILDER_LIBRARIES -lz -lbz2 -llzma -lzstd -lcrypto -ldeflate -lpthread)

# The decoder alone: the target holds its own SfxState, since the start-up
# sequence is not linked.
add_fuzz_target(inflate SECONDS 20
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/inflate_fuzzer.cpp
    ${STUB_DIR}/archive/inflate.cpp
    ${STUB_DIR}/archive/archive_input.cpp
    ${STUB_DIR}/archive/decryption.cpp
    ${STUB_DIR}/output/output_writer.cpp
    ${STUB_DIR}/output/output_paths.cpp
    ${STUB_DIR}/util/crc32.cpp
    ${STUB_DIR}/util/path_text.cpp
    ${STUB_DIR}/base/recovery.cpp
    ${STUB_DIR}/container/message_table.cpp
    ${STUB_DIR}/container/sfx_image.cpp
    ${STUB_DIR}/container/archive_file.cpp
    ${STUB_DIR}/container/archive_volumes.cpp
    ${STUB_DIR}/container/fixed_errors.cpp
    ${STUB_DIR}/container/integrity.cpp
    ${STUB_DIR}/base/utf8_text.cpp
    ${STUB_DIR}/platform/host/host_win32.cpp
    ${STUB_DIR}/platform/host/host_extraction_ui.cpp
    ${STUB_DIR}/platform/host/host_memory_files.cpp
    ${STUB_DIR}/platform/host/sfx_record_locator.cpp
    ${DRAVIK_GENERATED_DIR}/message_record.cpp
  SEEDS ${FUZZ_SEEDS}/inflate)

add_fuzz_target(engine SECONDS 30
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/engine_fuzzer.cpp ${STUB_HOST_SOURCES}
  OPTIONS -max_len=16384 -dict=${FUZZ_SEEDS}/engine.dict
  SEEDS ${FUZZ_SEEDS}/engine)

add_fuzz_target(build_zip SECONDS 20
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/build_zip_fuzzer.cpp ${BUILDER_SOURCES} ${DRAVIK_SFX_SOURCES} ${STUB_HOST_SOURCES}
  LIBRARIES ${BUILDER_LIBRARIES}
  DEPENDS dravik-sfx
  OPTIONS -max_len=16384 -dict=${FUZZ_SEEDS}/engine.dict
  SEEDS ${FUZZ_SEEDS}/build_zip ${PROJECT_SOURCE_DIR}/tests/data/external)

add_fuzz_target(info SECONDS 15
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/info_fuzzer.cpp ${BUILDER_SOURCES} ${DRAVIK_SFX_SOURCES} ${STUB_HOST_SOURCES}
  LIBRARIES ${BUILDER_LIBRARIES}
  DEPENDS dravik-sfx
  OPTIONS -max_len=16384 -dict=${FUZZ_SEEDS}/engine.dict
  SEEDS ${FUZZ_SEEDS}/engine)

# `build --zip`'s reading and re-encoding alone, from the wrapped archive's
# bytes (wrap_fuzzer.cpp): the decoders of the other methods and AES.
add_fuzz_target(wrap SECONDS 20
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/wrap_fuzzer.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_reader.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_limits.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_reencode.cpp
    ${PROJECT_SOURCE_DIR}/builder/deflate64_decoder.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_from_files.cpp
    ${PROJECT_SOURCE_DIR}/builder/deflate_pool.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_writer.cpp
    ${PROJECT_SOURCE_DIR}/builder/text_codec.cpp
    ${PROJECT_SOURCE_DIR}/builder/entry_names.cpp
    ${PROJECT_SOURCE_DIR}/builder/zip_aes.cpp
  LIBRARIES ${BUILDER_LIBRARIES}
  SEEDS ${FUZZ_SEEDS}/wrap)
